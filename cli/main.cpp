// tarvelle-cli: the command-line front end of the core.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cli/Commands.h"

std::vector<TCliCommand>& CliCommands() {
  static std::vector<TCliCommand> commands;
  return commands;
}

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: tarvelle-cli COMMAND [ARGS...]\n\ncommands:\n");
  auto commands = CliCommands();
  std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
  for (const auto& c : commands) std::fprintf(out, "  %-40s %s\n", c.Usage.c_str(), c.Summary.c_str());
  std::fprintf(out, "\n'tarvelle-cli COMMAND --help' describes one command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return 0;
  }
  for (const auto& c : CliCommands()) {
    if (c.Name == name) return c.Run(std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "tarvelle-cli: unknown command '%s'\n", name.c_str());
  PrintUsage(stderr);
  return 2;
}

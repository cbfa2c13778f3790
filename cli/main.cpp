// tarvelle-cli: the command-line front end of the core.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <QGuiApplication>

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
  // Metafile text needs the application's font database. The tool shows no
  // window, so it runs on the offscreen platform whatever the environment
  // asks for; the commands then see pictures exactly as the window does.
  int qtArgc = 3;
  char qtName[] = "tarvelle-cli", qtPlatform[] = "-platform", qtOffscreen[] = "offscreen";
  char* qtArgv[] = {qtName, qtPlatform, qtOffscreen, nullptr};
  // The platform's notes (runtime folders, fonts) mean nothing to a user of
  // the tool and would mix with its own error output; only real failures of
  // the toolkit are printed.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
  });
  QGuiApplication app(qtArgc, qtArgv);
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

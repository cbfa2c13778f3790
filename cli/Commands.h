#pragma once
// Registry of tarvelle-cli commands. Each command lives in its own source file
// and registers itself with a static TCliCommandRegistration.

#include <functional>
#include <string>
#include <vector>

struct TCliCommand {
  std::string Name;
  std::string Usage;    // one line: "info FILE"
  std::string Summary;  // one line of help
  // Gets the arguments after the command name; returns the exit code.
  std::function<int(const std::vector<std::string>& args)> Run;
};

std::vector<TCliCommand>& CliCommands();

struct TCliCommandRegistration {
  explicit TCliCommandRegistration(TCliCommand command) { CliCommands().push_back(std::move(command)); }
};

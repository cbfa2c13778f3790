#pragma once
// Runs tarvelle-cli as a separate program, the way a user's shell does.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

struct TCliRun {
  int Status = -1;  // exit status, -1 when the program did not exit normally
  std::string Out, Err;
};

inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Standard output goes to Out; standard error to Err through errFile when
// one is given, otherwise it is discarded.
inline TCliRun RunCli(const std::vector<std::string>& args, const std::string& errFile = {}) {
  std::string command = ShellQuote(TARVELLE_CLI);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  command += " 2>" + (errFile.empty() ? std::string("/dev/null") : ShellQuote(errFile));
  TCliRun run;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return run;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) run.Out.append(buf, n);
  const int status = ::pclose(p);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (!errFile.empty()) {
    std::ifstream in(errFile, std::ios::binary);
    run.Err.assign(std::istreambuf_iterator<char>(in), {});
  }
  return run;
}

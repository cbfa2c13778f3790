// tarvelle-cli: the command-line front end of the core.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
    std::printf("usage: tarvelle-cli COMMAND ...\n");
    return argc < 2 ? 2 : 0;
  }
  std::fprintf(stderr, "unknown command: %s\n", argv[1]);
  return 2;
}

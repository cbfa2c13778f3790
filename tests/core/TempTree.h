#pragma once
// A folder tree in a fresh temporary directory, removed again at the end of
// the test. Built from relative paths: a path ending in "/" is a folder,
// anything else a file (its folders are made as needed).

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

class TTempTree {
 public:
  TTempTree() {
    std::string templ = (std::filesystem::temp_directory_path() / "tarvelle-test-XXXXXX").string();
    if (!::mkdtemp(templ.data())) std::abort();
    root_ = templ;
  }
  explicit TTempTree(std::initializer_list<std::string> paths) : TTempTree() {
    for (const std::string& p : paths) Add(p);
  }
  ~TTempTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TTempTree(const TTempTree&) = delete;
  TTempTree& operator=(const TTempTree&) = delete;

  // The root without a trailing "/".
  const std::string& Root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  // Adds a folder ("a/b/") or a file with the given bytes.
  std::string Add(const std::string& relative, const std::string& bytes = "x") {
    const std::string full = Path(relative);
    if (!relative.empty() && relative.back() == '/') {
      std::filesystem::create_directories(full);
      return full;
    }
    const size_t slash = full.find_last_of('/');
    std::filesystem::create_directories(full.substr(0, slash));
    std::ofstream(full, std::ios::binary) << bytes;
    return full;
  }

 private:
  std::string root_;
};

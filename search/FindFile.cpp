#include "search/FindFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <set>
#include <utility>

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

std::string WithDelimiter(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

// Whether the current user's permission class (owner, group or others) lacks
// the write bit. Privileges are not taken into account, so a file is
// read-only for every user alike.
bool IsReadOnly(const struct stat& st) {
  if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) == 0;
  if (st.st_gid == ::getegid()) return (st.st_mode & S_IWGRP) == 0;
  return (st.st_mode & S_IWOTH) == 0;
}

}  // namespace

int TFindFile::AttributeMask(const TAttrOptions& options) {
  int mask = 0;
  if (options.Has(ffReadOnly)) mask |= faReadOnly;
  if (options.Has(ffHidden)) mask |= faHidden;
  if (options.Has(ffSystem)) mask |= faSysFile;
  if (options.Has(ffVolumeID)) mask |= faVolumeID;
  if (options.Has(ffDirectory)) mask |= faDirectory;
  if (options.Has(ffArchive)) mask |= faArchive;
  return mask;
}

bool TFindFile::MatchesFilters(const std::string& name, const std::vector<std::string>& filters) {
  const size_t dot = name.find_last_of('.');
  std::string pattern = "*";
  if (dot != std::string::npos)
    for (size_t i = dot; i < name.size(); ++i) pattern += AsciiLower(name[i]);
  for (const std::string& f : filters)
    if (EqualsIgnoringCase(pattern, f)) return true;
  return false;
}

bool TFindFile::ReadFolder(const std::string& folder, std::vector<TEntry>& entries) {
  entries.clear();
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return false;
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) {
    ::close(dirFd);
    return false;
  }
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    // Links are followed; a link whose target is gone is listed as the link
    // itself, so that it is reported like any file that cannot be read.
    if (::fstatat(dirFd, d->d_name, &st, 0) != 0 &&
        ::fstatat(dirFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    const bool isDir = S_ISDIR(st.st_mode);
    if (!isDir && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) continue;
    TEntry e;
    e.Name = name;
    e.Attr = (isDir ? faDirectory : 0) | (name[0] == '.' ? faHidden : 0) | (IsReadOnly(st) ? faReadOnly : 0);
    e.Size = isDir ? 0 : static_cast<int64_t>(st.st_size);
    e.Device = static_cast<uint64_t>(st.st_dev);
    e.Inode = static_cast<uint64_t>(st.st_ino);
    entries.push_back(std::move(e));
  }
  ::closedir(dir);
  return true;
}

void TFindFile::SearchFolder(const std::string& folder, const std::vector<TEntry>& entries, bool readable,
                             int mask) {
  if (OnNewPath) OnNewPath(this, folder, Abort);
  if (Abort || !readable || Filters.empty()) return;
  constexpr int kExcluding = faHidden | faSysFile | faVolumeID | faDirectory;
  for (const TEntry& e : entries) {
    if (e.Attr & kExcluding & ~mask) continue;
    if (!MatchesFilters(e.Name, Filters)) continue;
    Files.push_back(folder + e.Name);
    TotalSize += e.Size;
    if (e.Attr == faDirectory) ++DirectoryCount;
    else ++FileCount;
  }
}

void TFindFile::Execute() {
  const int mask = AttributeMask(Attributes);
  Files.clear();
  FileCount = DirectoryCount = 0;
  TotalSize = 0;
  Abort = false;
  if (BeforeExecute) BeforeExecute(this);
  if (!Directory.empty()) {
    std::vector<TEntry> entries;
    if (!Recurse) {
      const std::string folder = WithDelimiter(Directory);
      const bool readable = ReadFolder(folder, entries);
      SearchFolder(folder, entries, readable, mask);
    } else {
      // Each folder is listed once; the listing serves both for its
      // subfolders and for its files.
      std::set<std::pair<uint64_t, uint64_t>> visited;
      std::deque<std::string> queue{WithDelimiter(Directory)};
      struct stat st {};
      if (::stat(queue.front().c_str(), &st) == 0)
        visited.emplace(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
      while (!queue.empty()) {
        const std::string head = queue.front();
        const bool readable = ReadFolder(head, entries);
        for (const TEntry& e : entries) {
          if (!(e.Attr & faDirectory)) continue;
          if (!visited.emplace(e.Device, e.Inode).second) continue;
          queue.push_back(head + e.Name + "/");
        }
        SearchFolder(head, entries, readable, mask);
        queue.pop_front();
        if (Abort) break;
      }
    }
  }
  if (AfterExecute) AfterExecute(this);
}

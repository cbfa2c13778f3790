#pragma once
// TFindFile: collects the full names of the files below a folder whose
// extension is in a list of patterns ("*.jpg"). The walk is breadth-first:
// the start folder, then its subfolders, then theirs, each folder announced
// through OnNewPath before its files are listed. Within a folder entries come
// in the order the file system enumerates them; nothing is sorted.
//
// On this platform a name starting with "." is hidden, an entry the current
// user may not write to is read-only, and there are no system, volume-label
// or archive attributes. Symbolic links are followed, but no folder is
// entered twice (folders are told apart by device and inode), and entries
// that are neither regular files nor folders (pipes, sockets, devices) are
// never listed: opening them could block or have side effects. Folders that
// cannot be read contribute nothing. Names are bytes and stay bytes.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

class TFindFile;

enum TAttrOption : uint8_t { ffReadOnly, ffHidden, ffSystem, ffVolumeID, ffDirectory, ffArchive };

// A set of TAttrOption values.
class TAttrOptions {
 public:
  constexpr TAttrOptions() = default;
  constexpr TAttrOptions(std::initializer_list<TAttrOption> options) {
    for (TAttrOption o : options) bits_ |= static_cast<uint8_t>(1u << o);
  }
  constexpr bool Has(TAttrOption o) const { return (bits_ >> o) & 1u; }
  constexpr void Include(TAttrOption o) { bits_ |= static_cast<uint8_t>(1u << o); }
  constexpr void Exclude(TAttrOption o) { bits_ &= static_cast<uint8_t>(~(1u << o)); }
  constexpr bool operator==(const TAttrOptions&) const = default;

 private:
  uint8_t bits_ = 0;
};

// Attribute bits of an entry and of the search mask.
enum : int {
  faReadOnly = 1,
  faHidden = 2,
  faSysFile = 4,
  faVolumeID = 8,
  faDirectory = 16,
  faArchive = 32,
};

using TFindNotifyEvent = std::function<void(TFindFile* sender)>;
// NewPath always ends with "/"; setting abort to true ends the search.
using TNewPathEvent = std::function<void(TFindFile* sender, const std::string& newPath, bool& abort)>;

class TFindFile {
 public:
  TFindFile() = default;
  virtual ~TFindFile() = default;

  // Runs one search with the current properties; the outcome is in Files and
  // the counters.
  virtual void Execute();

  // Folder to search; a trailing "/" is optional.
  std::string Directory;
  // Patterns: "*" followed by an extension with its dot; "*" alone matches
  // names without an extension. Compared without regard to ASCII case.
  std::vector<std::string> Filters;
  bool Recurse = false;
  // Result: full file names.
  std::vector<std::string> Files;
  // Which attributes the file listing admits: an entry carrying hidden,
  // system, volume-label or folder outside this set is skipped.
  TAttrOptions Attributes{ffReadOnly, ffHidden, ffSystem, ffArchive};
  TFindNotifyEvent BeforeExecute;
  TFindNotifyEvent AfterExecute;
  TNewPathEvent OnNewPath;

  // Entries added that are not plain folders.
  int32_t FileCount = 0;
  // Entries added whose attribute word is exactly faDirectory.
  int32_t DirectoryCount = 0;
  // Sum of the sizes of the entries added.
  int64_t TotalSize = 0;
  // Stop request shared with OnNewPath.
  bool Abort = false;

  // The search mask of an attribute set: read-only 1, hidden 2, system 4,
  // volume label 8, folder 16, archive 32.
  static int AttributeMask(const TAttrOptions& options);
  // True when the name's extension (from its last ".", lower-cased) preceded
  // by "*" is one of filters, ignoring ASCII case.
  static bool MatchesFilters(const std::string& name, const std::vector<std::string>& filters);

 protected:
  struct TEntry {
    std::string Name;
    int Attr = 0;
    int64_t Size = 0;
    uint64_t Device = 0, Inode = 0;
  };
  // Lists a folder (without "." and ".."); false when it cannot be read.
  static bool ReadFolder(const std::string& folder, std::vector<TEntry>& entries);
  // Announces one folder and adds its matching files.
  void SearchFolder(const std::string& folder, const std::vector<TEntry>& entries, bool readable, int mask);
};

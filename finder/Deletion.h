#pragma once
// Deleting the files a user marked: to the desktop trash or permanently, one
// file at a time, never following a symbolic link, and never deleting a file
// that is not the one the scan saw.

#include <cstdint>
#include <string>

// What identifies a file as the one a scan read: type, size, modification
// time, device and inode (of the directory entry itself, links not followed).
struct TFileIdentity {
  bool Exists = false;
  bool IsLink = false;
  int64_t Size = 0;
  int64_t ModifiedNs = 0;
  uint64_t Device = 0;
  uint64_t Inode = 0;
  bool SameFileAs(const TFileIdentity& other) const {
    return Exists && other.Exists && IsLink == other.IsLink && Size == other.Size &&
           ModifiedNs == other.ModifiedNs && Device == other.Device && Inode == other.Inode;
  }
};

TFileIdentity FileIdentityOf(const std::string& path);

enum class TDeleteOutcome {
  Trashed,      // moved to the trash
  Deleted,      // removed permanently
  Missing,      // no longer there: nothing to do
  Changed,      // changed or replaced since the scan: left alone
  TrashFailed,  // could not go to the trash: left alone, not deleted
  Failed,       // could not be removed
};

struct TDeleteResult {
  std::string Path;
  TDeleteOutcome Outcome = TDeleteOutcome::Failed;
  std::string Detail;  // system error text, when there is one
};

// Deletes one marked file. `expected` is the identity recorded by the scan;
// a file whose identity differs now is reported as Changed and kept. With
// toTrash a file that cannot be trashed is kept (never deleted instead).
// A symbolic link is removed as a link, its target is never touched.
TDeleteResult DeleteMarkedFile(const std::string& path, const TFileIdentity& expected, bool toTrash);

// The routine that moves one file to the desktop trash (QFile::moveToTrash by
// default); replaceable so that tests can make the trash fail.
using TTrashFunction = bool (*)(const std::string& path);
void SetTrashFunction(TTrashFunction fn);

// "moved to trash", "deleted", ... for lists and the command line.
const char* DeleteOutcomeText(TDeleteOutcome outcome);

#include "finder/Deletion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>

namespace {

bool MoveToDesktopTrash(const std::string& path) {
  return QFile::moveToTrash(QFile::decodeName(QByteArray::fromStdString(path)));
}

TTrashFunction gTrash = MoveToDesktopTrash;

}  // namespace

void SetTrashFunction(TTrashFunction fn) { gTrash = fn ? fn : MoveToDesktopTrash; }

TFileIdentity FileIdentityOf(const std::string& path) {
  TFileIdentity id;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return id;
  id.Exists = true;
  id.IsLink = S_ISLNK(st.st_mode);
  id.Size = static_cast<int64_t>(st.st_size);
  id.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.Device = static_cast<uint64_t>(st.st_dev);
  id.Inode = static_cast<uint64_t>(st.st_ino);
  return id;
}

TDeleteResult DeleteMarkedFile(const std::string& path, const TFileIdentity& expected, bool toTrash) {
  TDeleteResult r;
  r.Path = path;
  const TFileIdentity now = FileIdentityOf(path);
  if (!now.Exists) {
    r.Outcome = TDeleteOutcome::Missing;
    return r;
  }
  if (!now.SameFileAs(expected)) {
    r.Outcome = TDeleteOutcome::Changed;
    return r;
  }
  if (toTrash && !now.IsLink) {
    if (gTrash(path)) {
      r.Outcome = TDeleteOutcome::Trashed;
    } else {
      r.Outcome = TDeleteOutcome::TrashFailed;
    }
    return r;
  }
  // A link (even when the trash was asked for: the desktop trash would be
  // handed the link's target by some implementations) is unlinked; unlink
  // never follows it.
  if (::unlink(path.c_str()) == 0) {
    r.Outcome = TDeleteOutcome::Deleted;
  } else {
    r.Outcome = TDeleteOutcome::Failed;
    r.Detail = std::strerror(errno);
  }
  return r;
}

const char* DeleteOutcomeText(TDeleteOutcome outcome) {
  switch (outcome) {
    case TDeleteOutcome::Trashed: return "moved to trash";
    case TDeleteOutcome::Deleted: return "deleted";
    case TDeleteOutcome::Missing: return "not found, nothing deleted";
    case TDeleteOutcome::Changed: return "changed since the scan, not deleted";
    case TDeleteOutcome::TrashFailed: return "could not be moved to trash, not deleted";
    case TDeleteOutcome::Failed: return "could not be deleted";
  }
  return "";
}

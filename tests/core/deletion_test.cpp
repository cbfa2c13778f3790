// Deleting marked files: trash or permanent, links, changed and missing files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "finder/Deletion.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& p, const std::string& content) {
  std::ofstream(p, std::ios::binary) << content;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Points the desktop trash at a folder of the test.
class DeletionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    root = tmp.path().toStdString();
    saved = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    fs::create_directories(root / "data");
    fs::create_directories(root / "photos");
  }
  void TearDown() override {
    if (saved.empty()) unsetenv("XDG_DATA_HOME");
    else setenv("XDG_DATA_HOME", saved.c_str(), 1);
  }
  QTemporaryDir tmp;
  fs::path root;
  std::string saved;
};

}  // namespace

TEST_F(DeletionTest, PermanentAndTrash) {
  const fs::path a = root / "photos" / "a.jpg", b = root / "photos" / "b.jpg";
  Write(a, "aaaa");
  Write(b, "bbbb");
  const TFileIdentity ia = FileIdentityOf(a), ib = FileIdentityOf(b);
  ASSERT_TRUE(ia.Exists);

  EXPECT_EQ(DeleteMarkedFile(a, ia, false).Outcome, TDeleteOutcome::Deleted);
  EXPECT_FALSE(fs::exists(a));

  const TDeleteResult t = DeleteMarkedFile(b, ib, true);
  EXPECT_EQ(t.Outcome, TDeleteOutcome::Trashed);
  EXPECT_FALSE(fs::exists(b));
  EXPECT_EQ(Read(root / "data" / "Trash" / "files" / "b.jpg"), "bbbb");

  // Gone already: reported, nothing else happens.
  EXPECT_EQ(DeleteMarkedFile(a, ia, false).Outcome, TDeleteOutcome::Missing);
}

TEST_F(DeletionTest, ChangedOrReplacedFileIsKept) {
  const fs::path a = root / "photos" / "a.jpg", b = root / "photos" / "b.jpg";
  Write(a, "aaaa");
  const TFileIdentity ia = FileIdentityOf(a);
  Write(a, "something longer");
  EXPECT_EQ(DeleteMarkedFile(a, ia, false).Outcome, TDeleteOutcome::Changed);
  EXPECT_EQ(Read(a), "something longer");

  // Replaced by another file of the same size and time: a new inode.
  Write(b, "aaaa");
  const TFileIdentity ib = FileIdentityOf(b);
  fs::remove(b);
  Write(root / "photos" / "c.jpg", "aaaa");
  fs::rename(root / "photos" / "c.jpg", b);
  EXPECT_EQ(DeleteMarkedFile(b, ib, true).Outcome, TDeleteOutcome::Changed);
  EXPECT_TRUE(fs::exists(b));
}

TEST_F(DeletionTest, LinkIsRemovedNotItsTarget) {
  const fs::path target = root / "photos" / "target.jpg", link = root / "photos" / "link.jpg";
  Write(target, "keep me");
  fs::create_symlink(target, link);
  for (bool toTrash : {false, true}) {
    const TFileIdentity il = FileIdentityOf(link);
    ASSERT_TRUE(il.IsLink);
    const TDeleteResult r = DeleteMarkedFile(link, il, toTrash);
    EXPECT_TRUE(r.Outcome == TDeleteOutcome::Deleted || r.Outcome == TDeleteOutcome::Trashed);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(Read(target), "keep me");
    fs::create_symlink(target, link);
  }
}

TEST_F(DeletionTest, TrashFailureDeletesNothing) {
  const fs::path a = root / "photos" / "a.jpg";
  Write(a, "aaaa");
  const TFileIdentity ia = FileIdentityOf(a);
  SetTrashFunction([](const std::string&) { return false; });
  const TDeleteResult r = DeleteMarkedFile(a, ia, true);
  SetTrashFunction(nullptr);
  EXPECT_EQ(r.Outcome, TDeleteOutcome::TrashFailed);
  EXPECT_EQ(Read(a), "aaaa");
}

// Deleting what a scan marked: only marked files leave, each file is checked
// against what the scan saw, and whatever is not the scanned file is kept.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "PpmFixture.h"
#include "TempTree.h"
#include "finder/DFinder.h"
#include "finder/Deletion.h"
#include "finder/Marking.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The desktop trash goes into a folder of the test.
class DeletionScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_DATA_HOME")) saved_ = old, hadSaved_ = true;
    ::setenv("XDG_DATA_HOME", tree_.Add("data/").c_str(), 1);
  }
  void TearDown() override {
    SetTrashFunction(nullptr);
    if (hadSaved_) ::setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    else ::unsetenv("XDG_DATA_HOME");
  }
  TTempTree tree_;
  std::string saved_;
  bool hadSaved_ = false;
};

}  // namespace

TEST_F(DeletionScanTest, OnlyTheMarkedFilesOfAScanLeave) {
  const std::string big = BlocksPpm(96, 72), small = BlocksPpm(48, 36), other = BlocksPpm(64, 48, 9);
  const std::map<std::string, std::string> files = {
      {"photos/orig.ppm", big},          {"photos/copy.ppm", big},  {"photos/small.ppm", small},
      {"photos/deeper/small2.ppm", small}, {"photos/other.ppm", other}, {"photos/gone.ppm", small},
  };
  for (const auto& [rel, bytes] : files) tree_.Add(rel, bytes);

  for (const bool toTrash : {false, true}) {
    SCOPED_TRACE(toTrash);
    for (const auto& [rel, bytes] : files) tree_.Add(rel, bytes);
    std::vector<std::string> names;
    for (const auto& [rel, bytes] : files) names.push_back(tree_.Path(rel));
    TDFinder finder;
    finder.FindDuplicates(names, 90);
    ApplyMarkingRules(finder, TMarkingRules{});

    // A marked file deleted by someone else before the deletion runs.
    ::unlink(tree_.Path("photos/gone.ppm").c_str());

    int marked = 0, removed = 0, missing = 0;
    for (const auto& rec : finder.Images) {
      if (!rec->Marked) continue;
      ++marked;
      const TDeleteResult r = DeleteMarkedFile(finder.FileNames[rec->Index], rec->Identity, toTrash);
      if (r.Outcome == (toTrash ? TDeleteOutcome::Trashed : TDeleteOutcome::Deleted)) ++removed;
      if (r.Outcome == TDeleteOutcome::Missing) ++missing;
    }
    // copy.ppm comes first and heads the group: the three smaller copies
    // (one of them vanished) are marked, the equally large orig.ppm is not.
    EXPECT_EQ(marked, 3);
    EXPECT_EQ(removed, 2);
    // Gone already: reported "not found", not counted as deleted.
    EXPECT_EQ(missing, 1);
    EXPECT_STREQ(DeleteOutcomeText(TDeleteOutcome::Missing), "not found, nothing deleted");

    for (const auto& rec : finder.Images) {
      const std::string& name = finder.FileNames[rec->Index];
      if (rec->Marked) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(name))) << name;
      } else {
        EXPECT_EQ(Read(name), files.at(name.substr(tree_.Root().size() + 1))) << name;
      }
    }
    EXPECT_TRUE(fs::exists(tree_.Path("photos/orig.ppm")));
    EXPECT_TRUE(fs::exists(tree_.Path("photos/other.ppm")));
    if (toTrash) {
      EXPECT_EQ(Read(tree_.Path("data/Trash/files/small.ppm")), small);
    }
  }
}

TEST_F(DeletionScanTest, WhatIsNotTheScannedFileIsKept) {
  struct TCase {
    const char* Name;
    // Replaces or changes the scanned file `path`; `spare` is a path the
    // case may use.
    std::function<void(const std::string& path, const std::string& spare)> Change;
  };
  const std::vector<TCase> cases = {
      {"rewritten in place, longer",
       [](const std::string& p, const std::string&) { std::ofstream(p, std::ios::binary) << "a longer picture"; }},
      {"replaced by a link to a copy",
       [](const std::string& p, const std::string& spare) {
         std::ofstream(spare, std::ios::binary) << "picture";
         ::unlink(p.c_str());
         ::symlink(spare.c_str(), p.c_str());
       }},
      {"replaced by a folder",
       [](const std::string& p, const std::string&) {
         ::unlink(p.c_str());
         ::mkdir(p.c_str(), 0700);
       }},
      {"replaced by a new file of the same size and time",
       [](const std::string& p, const std::string& spare) {
         struct stat st {};
         ::stat(p.c_str(), &st);
         std::ofstream(spare, std::ios::binary) << "PICTURE";
         const timespec times[2] = {st.st_atim, st.st_mtim};
         ::utimensat(AT_FDCWD, spare.c_str(), times, 0);
         ::rename(spare.c_str(), p.c_str());
       }},
  };
  for (const bool toTrash : {false, true}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (toTrash ? ", trash" : ", permanent"));
      const std::string path = tree_.Path("photos/p.ppm"), spare = tree_.Path("spare.ppm");
      fs::remove_all(path);
      fs::remove_all(spare);
      tree_.Add("photos/p.ppm", "picture");
      const TFileIdentity scanned = FileIdentityOf(path);
      c.Change(path, spare);
      const fs::file_status before = fs::symlink_status(path);
      bool trashCalled = false;
      static bool* called;
      called = &trashCalled;
      SetTrashFunction([](const std::string&) { return *called = true; });
      const TDeleteResult r = DeleteMarkedFile(path, scanned, toTrash);
      SetTrashFunction(nullptr);
      EXPECT_EQ(r.Outcome, TDeleteOutcome::Changed);
      EXPECT_FALSE(trashCalled);
      EXPECT_EQ(fs::symlink_status(path).type(), before.type());
      if (fs::exists(spare)) {
        EXPECT_EQ(Read(spare), "picture");
      }
    }
  }
}

TEST_F(DeletionScanTest, ALinkIsRemovedAsALinkWhateverItPointsTo) {
  // A link to a file, to a folder, one that dangles and one to itself: each
  // is unlinked, trash or not, and what it points to stays.
  const std::string target = tree_.Add("keep/target.ppm", "target bytes");
  tree_.Add("keep/folder/inside.ppm", "inside");
  struct TCase {
    const char* Name;
    std::string Points;
  };
  const std::vector<TCase> cases = {
      {"to a file", target},
      {"to a folder", tree_.Path("keep/folder")},
      {"dangling", tree_.Path("keep/nothing.ppm")},
      {"to itself", tree_.Path("photos/link.ppm")},
  };
  fs::create_directories(tree_.Path("photos"));
  for (const bool toTrash : {false, true}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (toTrash ? ", trash" : ", permanent"));
      const std::string link = tree_.Path("photos/link.ppm");
      ASSERT_EQ(::symlink(c.Points.c_str(), link.c_str()), 0);
      const TFileIdentity scanned = FileIdentityOf(link);
      ASSERT_TRUE(scanned.IsLink);
      const TDeleteResult r = DeleteMarkedFile(link, scanned, toTrash);
      EXPECT_EQ(r.Outcome, TDeleteOutcome::Deleted);
      EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
      EXPECT_EQ(Read(target), "target bytes");
      EXPECT_EQ(Read(tree_.Path("keep/folder/inside.ppm")), "inside");
    }
  }
}

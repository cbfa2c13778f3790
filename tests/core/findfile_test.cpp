// The recursive file finder: breadth-first walk, extension matching,
// attributes, aborting, links.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "TempTree.h"
#include "search/FindFile.h"

namespace {

// Names relative to the tree's root.
std::vector<std::string> Relative(const TTempTree& tree, const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  for (const std::string& p : paths) out.push_back(p.substr(tree.Root().size() + 1));
  return out;
}

std::set<std::string> AsSet(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

TEST(FindFile, MatchesByExtensionOnly) {
  struct TCase {
    std::vector<std::string> Filters;
    std::set<std::string> Expected;
  };
  const TTempTree tree({"a.JPG", "b.jpg", "c.jpeg", "d.jpg.bak", "noext", "e.Png", "f.tar.gz"});
  const std::vector<TCase> cases = {
      {{"*.jpg"}, {"a.JPG", "b.jpg"}},
      {{"*.JPEG", "*.png"}, {"c.jpeg", "e.Png"}},
      {{"*"}, {"noext"}},
      {{"*.gz"}, {"f.tar.gz"}},
      // Anything but the asterisk before the extension never matches.
      {{"a.jpg", "*jpg", "?.jpg"}, {}},
      {{}, {}},
  };
  for (const TCase& c : cases) {
    TFindFile ff;
    ff.Directory = tree.Root();
    ff.Filters = c.Filters;
    ff.Execute();
    EXPECT_EQ(AsSet(Relative(tree, ff.Files)), c.Expected) << ::testing::PrintToString(c.Filters);
    EXPECT_EQ(ff.FileCount, static_cast<int32_t>(c.Expected.size()));
  }
}

TEST(FindFile, WalksBreadthFirstAndAnnouncesEveryFolder) {
  const TTempTree tree({"r.jpg", "a/x/x.jpg", "a/a.jpg", "b/b.jpg", "b/skip.txt"});
  TFindFile ff;
  ff.Directory = tree.Root() + "/";
  ff.Filters = {"*.jpg"};
  ff.Recurse = true;
  std::vector<std::string> folders;
  std::vector<int32_t> counts;
  std::vector<std::string> events;
  ff.BeforeExecute = [&](TFindFile*) { events.push_back("before"); };
  ff.AfterExecute = [&](TFindFile*) { events.push_back("after"); };
  ff.OnNewPath = [&](TFindFile* sender, const std::string& path, bool&) {
    EXPECT_EQ(sender, &ff);
    folders.push_back(path.substr(tree.Root().size()));
    counts.push_back(sender->FileCount);
  };
  ff.Execute();
  // The start folder, then a and b in the order the system lists them, then x.
  ASSERT_EQ(folders.size(), 4u);
  EXPECT_EQ(folders[0], "/");
  EXPECT_EQ(AsSet({folders[1], folders[2]}), AsSet({"/a/", "/b/"}));
  EXPECT_EQ(folders[3], "/a/x/");
  EXPECT_EQ(counts[0], 0);
  EXPECT_EQ(counts[3], 3);
  // The files follow the order of their folders.
  std::vector<std::string> expected = {"r.jpg"};
  for (size_t i = 1; i < 3; ++i) expected.push_back(folders[i].substr(1) + folders[i].substr(1, 1) + ".jpg");
  expected.push_back("a/x/x.jpg");
  EXPECT_EQ(Relative(tree, ff.Files), expected);
  EXPECT_EQ(ff.TotalSize, 4);
  EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));

  // Without Recurse only the start folder is searched.
  ff.Recurse = false;
  folders.clear();
  ff.Execute();
  EXPECT_EQ(Relative(tree, ff.Files), (std::vector<std::string>{"r.jpg"}));
  EXPECT_EQ(folders, (std::vector<std::string>{"/"}));
}

TEST(FindFile, AbortFromTheFolderEventEndsTheWalk) {
  const TTempTree tree({"r.jpg", "a/a.jpg", "a/x/x.jpg"});
  TFindFile ff;
  ff.Directory = tree.Root();
  ff.Filters = {"*.jpg"};
  ff.Recurse = true;
  int announced = 0;
  bool abortThird = true;
  ff.OnNewPath = [&](TFindFile*, const std::string&, bool& abort) {
    if (++announced == 3 && abortThird) abort = true;
  };
  ff.Execute();
  EXPECT_EQ(Relative(tree, ff.Files), (std::vector<std::string>{"r.jpg", "a/a.jpg"}));
  EXPECT_TRUE(ff.Abort);
  // The next search starts afresh and runs in full.
  abortThird = false;
  announced = 0;
  ff.Execute();
  EXPECT_EQ(ff.Files.size(), 3u);
  EXPECT_FALSE(ff.Abort);
}

TEST(FindFile, AttributesAdmitHiddenFilesAndFolders) {
  const TTempTree tree({".hidden.jpg", "pics.jpg/", "plain.jpg"});
  struct TCase {
    TAttrOptions Attributes;
    std::set<std::string> Expected;
    int32_t Files, Folders;
  };
  const std::vector<TCase> cases = {
      {TFindFile().Attributes, {".hidden.jpg", "plain.jpg"}, 2, 0},
      {TAttrOptions{}, {"plain.jpg"}, 1, 0},
      {TAttrOptions{ffHidden, ffDirectory}, {".hidden.jpg", "pics.jpg", "plain.jpg"}, 2, 1},
  };
  for (const TCase& c : cases) {
    TFindFile ff;
    ff.Directory = tree.Root();
    ff.Filters = {"*.jpg"};
    ff.Attributes = c.Attributes;
    ff.Execute();
    EXPECT_EQ(AsSet(Relative(tree, ff.Files)), c.Expected);
    EXPECT_EQ(ff.FileCount, c.Files);
    EXPECT_EQ(ff.DirectoryCount, c.Folders);
  }
  EXPECT_EQ(TFindFile::AttributeMask(TFindFile().Attributes), 39);
}

TEST(FindFile, FollowsLinksButEntersNoFolderTwice) {
  const TTempTree tree({"in/a.jpg", "in/sub/b.jpg", "out/c.jpg", "out/deep/d.jpg"});
  // A loop back to the start, a second way into "in/sub", a link to a folder
  // outside, a link to a file, a broken link and a pipe.
  ASSERT_EQ(::symlink(tree.Path("in").c_str(), tree.Path("in/sub/loop").c_str()), 0);
  ASSERT_EQ(::symlink(tree.Path("in/sub").c_str(), tree.Path("in/again").c_str()), 0);
  ASSERT_EQ(::symlink(tree.Path("out").c_str(), tree.Path("in/out").c_str()), 0);
  ASSERT_EQ(::symlink(tree.Path("out/c.jpg").c_str(), tree.Path("in/link.jpg").c_str()), 0);
  ASSERT_EQ(::symlink(tree.Path("nowhere.jpg").c_str(), tree.Path("in/broken.jpg").c_str()), 0);
  ASSERT_EQ(::mkfifo(tree.Path("in/pipe.jpg").c_str(), 0600), 0);
  TFindFile ff;
  ff.Directory = tree.Path("in");
  ff.Filters = {"*.jpg"};
  ff.Recurse = true;
  std::vector<std::string> folders;
  ff.OnNewPath = [&](TFindFile*, const std::string& path, bool&) { folders.push_back(path); };
  ff.Execute();
  EXPECT_EQ(folders.size(), 4u);  // in, sub (or again), out, deep
  std::vector<std::string> names;
  for (const std::string& f : ff.Files) names.push_back(f.substr(f.find_last_of('/') + 1));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "b.jpg", "broken.jpg", "c.jpg", "d.jpg", "link.jpg"}));
}

TEST(FindFile, KeepsNamesAsBytes) {
  const std::string odd = "caf\xe9 \xff.jpg";
  const TTempTree tree({"d\x80/" + odd});
  TFindFile ff;
  ff.Directory = tree.Root();
  ff.Filters = {"*.jpg"};
  ff.Recurse = true;
  ff.Execute();
  EXPECT_EQ(Relative(tree, ff.Files), (std::vector<std::string>{"d\x80/" + odd}));
}

TEST(FindFile, EmptyOrMissingFolderFindsNothing) {
  for (const std::string& dir : {std::string(), std::string("/nonexistent-tarvelle-folder")}) {
    TFindFile ff;
    ff.Directory = dir;
    ff.Filters = {"*.jpg"};
    ff.Recurse = true;
    int announced = 0, after = 0;
    ff.OnNewPath = [&](TFindFile*, const std::string&, bool&) { ++announced; };
    ff.AfterExecute = [&](TFindFile*) { ++after; };
    ff.Execute();
    EXPECT_TRUE(ff.Files.empty());
    EXPECT_EQ(announced, dir.empty() ? 0 : 1);
    EXPECT_EQ(after, 1);
  }
}

}  // namespace

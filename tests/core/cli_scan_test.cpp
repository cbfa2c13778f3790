// tarvelle-cli scan and similarity, run as a separate program.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CliRun.h"
#include "PpmFixture.h"
#include "TempTree.h"
#include "search/FindFile.h"
#include "settings/FileTypes.h"

namespace {

using TRun = TCliRun;

TRun Cli(const std::vector<std::string>& args) { return RunCli(args); }

// The order in which the scan visits the files of a tree.
std::vector<std::string> ScanOrder(const std::string& folder, TImageFileTypes types) {
  TFindFile ff;
  ff.Directory = folder;
  ff.Recurse = true;
  ff.Filters = PatternsForFileTypes(types);
  ff.Execute();
  return ff.Files;
}

// Bytes that no reader accepts.
const std::string kJunk = "this is not an image";

TEST(CliScan, ListsEveryFileAndReportsTheUnreadableOnes) {
  TTempTree tree;
  for (const char* name : {"a.jpg", "sub/b.png", "sub/deeper/c.ppm", "notes.txt", "q\"uote\\.png", "bad\xff.png"})
    tree.Add(name, kJunk);
  const std::vector<std::string> files = ScanOrder(tree.Root(), kAllImageFileTypes);
  ASSERT_EQ(files.size(), 5u);

  // Names escape '"' and '\' as JSON does and a byte outside UTF-8 as \udcXX.
  auto json = [&](const std::string& path) {
    std::string rel = path.substr(tree.Root().size());
    if (rel == "/q\"uote\\.png") rel = "/q\\\"uote\\\\.png";
    if (rel == "/bad\xff.png") rel = "/bad\\udcff.png";
    return "\"" + tree.Root() + rel + "\"";
  };
  std::string list;
  for (size_t i = 0; i < files.size(); ++i) list += (i ? ",\n    " : "\n    ") + json(files[i]);
  const std::string expected = "{\n  \"folder\": \"" + tree.Root() + "\",\n  \"similarity\": 75,\n  \"files\": [" +
                               list + "\n  ],\n  \"groups\": [],\n  \"unreadable\": [" + list +
                               "\n  ],\n  \"stopped\": false\n}\n";
  const TRun run = Cli({"scan", "--format", "json", "--similarity", "75", "--engine", "reference", tree.Root()});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, expected);

  // Text output escapes the same names with \\ and \xHH.
  const TRun text = Cli({"scan", tree.Root()});
  EXPECT_EQ(text.Status, 0);
  EXPECT_NE(text.Out.find("5 files scanned, 0 groups, 0 duplicates, 0 marked, 5 unreadable\n"), std::string::npos)
      << text.Out;
  EXPECT_NE(text.Out.find("  " + tree.Root() + "/bad\\xff.png\n"), std::string::npos) << text.Out;
  EXPECT_NE(text.Out.find("  " + tree.Root() + "/q\"uote\\\\.png\n"), std::string::npos) << text.Out;
}

TEST(CliScan, TypesChooseThePatterns) {
  TTempTree tree;
  for (const char* name : {"a.jpg", "b.JPE", "c.png", "d.tif", "e.g3f", "f.ppm", "g.pgm", "h.wbmp"}) tree.Add(name, kJunk);
  struct TCase {
    const char* Types;
    size_t Files;
  };
  // .pgm has no row: it is never searched for.
  for (const TCase& c : {TCase{"jpeg", 2}, TCase{"png,tiff", 3}, TCase{"pxm,wbmp", 2}, TCase{"JPG,tif", 4}}) {
    const TRun run = Cli({"scan", "--types", c.Types, tree.Root()});
    EXPECT_EQ(run.Status, 0) << c.Types;
    EXPECT_EQ(run.Out.rfind(std::to_string(c.Files) + " files scanned", 0), 0u) << c.Types << "\n" << run.Out;
  }
}

TEST(CliScan, RejectsBadArguments) {
  const TTempTree tree({"a.jpg"});
  struct TCase {
    std::vector<std::string> Args;
    int Status;
  };
  const std::vector<TCase> cases = {
      {{"scan"}, 2},
      {{"scan", "--similarity", "0", tree.Root()}, 2},
      {{"scan", "--similarity", "101", tree.Root()}, 2},
      {{"scan", "--similarity", "9x", tree.Root()}, 2},
      {{"scan", "--types", "jpeg,nope", tree.Root()}, 2},
      {{"scan", "--format", "xml", tree.Root()}, 2},
      {{"scan", "--engine", "turbo", tree.Root()}, 2},
      {{"scan", "--bogus", tree.Root()}, 2},
      {{"scan", tree.Root(), tree.Root()}, 2},
      {{"scan", tree.Path("missing")}, 1},
      {{"scan", tree.Path("a.jpg")}, 1},
      {{"similarity", tree.Path("a.jpg")}, 2},
      {{"similarity", tree.Path("a.jpg"), tree.Path("missing.jpg")}, 1},
  };
  for (const TCase& c : cases) {
    const TRun run = Cli(c.Args);
    EXPECT_EQ(run.Status, c.Status) << ::testing::PrintToString(c.Args);
    EXPECT_EQ(run.Out, "") << ::testing::PrintToString(c.Args);
  }
}

TEST(CliScan, PrintsGroupsWithMarksAndSimilarities) {
  TTempTree tree;
  const std::string picture = BlocksPpm(80, 60), small = BlocksPpm(40, 30), other = BlocksPpm(80, 60, 9);
  tree.Add("orig.ppm", picture);
  tree.Add("other.ppm", other);
  tree.Add("copies/same.ppm", picture);
  tree.Add("copies/small.ppm", small);
  const std::vector<std::string> files = ScanOrder(tree.Root(), kAllImageFileTypes);
  ASSERT_EQ(files.size(), 4u);

  const TRun sim = Cli({"similarity", tree.Path("orig.ppm"), tree.Path("copies/small.ppm")});
  EXPECT_EQ(sim.Status, 0);
  const std::string smallSimilarity = sim.Out.substr(0, sim.Out.size() - 1);
  EXPECT_EQ(Cli({"similarity", tree.Path("orig.ppm"), tree.Path("copies/same.ppm")}).Out, "0.999755859375\n");

  // Files of the root come first, so orig.ppm heads the group.
  auto entry = [&](const std::string& rel, int w, int h, size_t size, bool marked) {
    return "\"path\": \"" + tree.Path(rel) + "\", \"width\": " + std::to_string(w) + ", \"height\": " +
           std::to_string(h) + ", \"size\": " + std::to_string(size) + ", \"marked\": " + (marked ? "true" : "false");
  };
  for (const bool markDim : {true, false}) {
    SCOPED_TRACE(markDim);
    std::string dups;
    for (const std::string& f : files) {
      if (f == tree.Path("copies/same.ppm"))
        dups += std::string(dups.empty() ? "\n       {" : ",\n       {") +
                entry("copies/same.ppm", 80, 60, picture.size(), false) + ", \"similarity\": 0.999755859375}";
      if (f == tree.Path("copies/small.ppm"))
        dups += std::string(dups.empty() ? "\n       {" : ",\n       {") +
                entry("copies/small.ppm", 40, 30, small.size(), markDim) + ", \"similarity\": " + smallSimilarity + "}";
    }
    const std::string groups = "  \"groups\": [\n    {\"original\": {" + entry("orig.ppm", 80, 60, picture.size(), false) +
                               "},\n     \"duplicates\": [" + dups + "]}\n  ],\n  \"unreadable\": [],\n";
    std::vector<std::string> args = {"scan", "--format", "json", tree.Root()};
    if (!markDim) args.insert(args.begin() + 1, "--no-mark-dim");
    const TRun run = Cli(args);
    EXPECT_EQ(run.Status, 0);
    EXPECT_NE(run.Out.find(groups), std::string::npos) << run.Out << "\nexpected:\n" << groups;
  }

  const TRun text = Cli({"scan", tree.Root()});
  EXPECT_NE(text.Out.find("Group 1\n  original                 80x60"), std::string::npos) << text.Out;
  EXPECT_NE(text.Out.find("  similarity 99.98%        80x60"), std::string::npos) << text.Out;
  EXPECT_NE(text.Out.find("4 files scanned, 1 groups, 2 duplicates, 1 marked, 0 unreadable\n"), std::string::npos)
      << text.Out;
}

}  // namespace

// The duplicate finder: fingerprints, greedy grouping, progress, stop points
// and files that cannot be read. Images come from a stand-in loader that
// paints uniform gray pictures, so that every similarity is known in advance:
// two uniform grays a and b score 1 - (1 + 4096 |a - b| / 255) / 4096.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "PpmFixture.h"
#include "TempTree.h"
#include "finder/DFinder.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"

namespace {

struct TFakeImage {
  enum TKind { Ok, Undecodable, Unopenable } Kind = Ok;
  int Width = 80, Height = 60;
  TImPixelFormat Format = im24bgr;
  uint8_t Gray = 100;
};

// Paints the picture registered under a file name into its target, or fails
// the way a reader does (Aborting) or the open does (an exception).
class TFakeIO : public TImageIO {
 public:
  explicit TFakeIO(const std::map<std::string, TFakeImage>& images) : images_(images) {}
  void LoadFromFile(const std::string& fileName) override {
    Aborting = true;
    const auto it = images_.find(fileName);
    if (it == images_.end() || it->second.Kind == TFakeImage::Unopenable)
      throw TImOpenError("Cannot open file " + fileName);
    if (it->second.Kind == TFakeImage::Undecodable) return;  // leaves the previous image
    const TFakeImage& f = it->second;
    TImBitmap& b = *Bitmap();
    b.Allocate(f.Width, f.Height, f.Format);
    b.Fill(f.Format == im1bit ? 1 : f.Gray * 0x010101);
    Params().Width = f.Width;
    Params().Height = f.Height;
    Aborting = false;
  }

 private:
  const std::map<std::string, TFakeImage>& images_;
};

class FinderTest : public ::testing::Test {
 protected:
  // Registers pictures under the names "0.ppm", "1.ppm", ... and returns the names.
  std::vector<std::string> Pictures(const std::vector<TFakeImage>& pictures) {
    std::vector<std::string> names;
    for (const TFakeImage& p : pictures) {
      names.push_back("/pictures/" + std::to_string(names.size()) + ".ppm");
      images_[names.back()] = p;
    }
    finder_.LoaderFactory = [this] { return std::make_unique<TFakeIO>(images_); };
    return names;
  }
  static TFakeImage Gray(uint8_t g) { TFakeImage f; f.Gray = g; return f; }

  // Duplicates lists of all records.
  std::vector<std::vector<int32_t>> Groups() const {
    std::vector<std::vector<int32_t>> out;
    for (const auto& r : finder_.Images) {
      EXPECT_EQ(r->HasDuplicates, !r->Duplicates.empty());
      out.push_back(r->Duplicates);
    }
    return out;
  }

  std::map<std::string, TFakeImage> images_;
  TDFinder finder_;
};

TEST_F(FinderTest, GroupsGreedilyInIndexOrder) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Grays;
    int Threshold;
    std::vector<std::vector<int32_t>> Expected;
  };
  const std::vector<TCase> cases = {
      {"three copies", {100, 100, 100}, 90, {{1, 2}, {}, {}}},
      // 20 gray levels apart scores 0.921, 40 apart 0.843: A~B, B~C, not A~C.
      {"not transitive", {100, 120, 140}, 90, {{1}, {}, {}}},
      {"threshold 100 never reached", {100, 100}, 100, {{}, {}}},
      {"identical at 99", {100, 100}, 99, {{1}, {}}},
      {"interleaved groups", {100, 200, 100, 200, 100}, 90, {{2, 4}, {3}, {}, {}, {}}},
      {"a matched image heads nothing", {100, 120, 140, 160}, 90, {{1}, {}, {3}, {}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TFakeImage> pics;
    for (uint8_t g : c.Grays) pics.push_back(Gray(g));
    finder_.FindDuplicates(Pictures(pics), c.Threshold);
    EXPECT_EQ(Groups(), c.Expected);
  }
}

TEST_F(FinderTest, RecordsKeepTheDimensionsAsReadAndTheSimilarity) {
  TFakeImage big = Gray(100);
  big.Width = 640;
  big.Height = 480;
  TFakeImage small = big;
  small.Width = 64;
  small.Height = 48;
  finder_.FindDuplicates(Pictures({big, small}), 90);
  ASSERT_EQ(finder_.Images.size(), 2u);
  TDImage& r = *finder_.Images[0];
  EXPECT_EQ(r.Index, 0);
  EXPECT_EQ(r.Width, 640);
  EXPECT_EQ(r.Height, 480);
  EXPECT_EQ(r.Bitmap.Width(), 64);
  EXPECT_EQ(r.Bitmap.Height(), 64);
  EXPECT_EQ(r.Bitmap.PixelFormat(), im24bgr);
  EXPECT_EQ(r.Similarity, 0.0);
  EXPECT_EQ(finder_.Images[1]->Index, 1);
  EXPECT_EQ(finder_.Images[1]->Similarity, 0.999755859375);
  EXPECT_EQ(finder_.FileNames, (std::vector<std::string>{"/pictures/0.ppm", "/pictures/1.ppm"}));
  EXPECT_FALSE(finder_.Stopped);
}

TEST_F(FinderTest, BlackAndWhiteThumbnailsNeverPair) {
  TFakeImage bw;
  bw.Format = im1bit;
  for (int threshold : {1, 50, 90, 99, 100}) {
    SCOPED_TRACE(threshold);
    finder_.FindDuplicates(Pictures({bw, bw, Gray(255)}), threshold);
    EXPECT_EQ(finder_.Images[0]->Bitmap.PixelFormat(), im1bit);
    EXPECT_EQ(Groups(), (std::vector<std::vector<int32_t>>{{}, {}, {}}));
  }
}

TEST_F(FinderTest, FilesThatCannotBeReadMatchNothingAndDoNotEndTheRun) {
  TFakeImage undecodable;
  undecodable.Kind = TFakeImage::Undecodable;
  TFakeImage unopenable;
  unopenable.Kind = TFakeImage::Unopenable;
  // The undecodable file follows a good one: the loader leaves that image in
  // place, which must not make the undecodable file its copy.
  finder_.FindDuplicates(Pictures({Gray(100), undecodable, unopenable, Gray(100), undecodable}), 1);
  ASSERT_EQ(finder_.Images.size(), 5u);
  EXPECT_EQ(Groups(), (std::vector<std::vector<int32_t>>{{3}, {}, {}, {}, {}}));
  EXPECT_EQ(finder_.Unreadable, (std::vector<int32_t>{1, 2, 4}));
  for (int k : {1, 2, 4}) {
    TDImage& r = *finder_.Images[k];
    EXPECT_TRUE(r.Unreadable);
    EXPECT_EQ(r.Width, 0);
    EXPECT_EQ(r.Height, 0);
    EXPECT_EQ(r.Bitmap.PixelFormat(), imNone);
  }
}

TEST_F(FinderTest, FileSizeIsTheSizeOnDiskInSixtyFourBits) {
  TTempTree tree({"pic.ppm"});
  // A sparse file past 4 GiB: its size does not fit in 32 bits.
  const int64_t size = 5'000'000'000;
  const int fd = ::open(tree.Path("pic.ppm").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
  images_[tree.Path("pic.ppm")] = Gray(10);
  const std::vector<std::string> names = {tree.Path("pic.ppm"), tree.Path("gone.ppm")};
  finder_.LoaderFactory = [this] { return std::make_unique<TFakeIO>(images_); };
  finder_.FindDuplicates(names, 90);
  ASSERT_EQ(finder_.Images.size(), 2u);
  EXPECT_EQ(finder_.Images[0]->FileSize, size);
  EXPECT_EQ(finder_.Images[1]->FileSize, 0);
  EXPECT_EQ(finder_.Unreadable, (std::vector<int32_t>{1}));
}

struct TCall {
  std::string Text;
  int Position, Maximum;
  bool operator==(const TCall&) const = default;
};

TEST_F(FinderTest, ReportsProgressForEveryFileInBothPhases) {
  std::vector<TCall> calls;
  finder_.OnFindProgress = [&](void* sender, const std::string& text, int position, int maximum) {
    EXPECT_EQ(sender, &finder_);
    calls.push_back({text, position, maximum});
  };
  // Short lists make no calls at all.
  for (size_t n : {0u, 1u}) {
    finder_.FindDuplicates(Pictures(std::vector<TFakeImage>(n, Gray(1))), 90);
    EXPECT_TRUE(finder_.Images.empty());
    EXPECT_TRUE(finder_.FileNames.empty());
  }
  EXPECT_TRUE(calls.empty());

  finder_.FindDuplicates(Pictures({Gray(1), Gray(1), Gray(1)}), 90);
  const std::vector<TCall> expected = {
      {"Retreiving image information for: 0.ppm (1 / 3)", 1, 3},
      {"Retreiving image information for: 1.ppm (2 / 3)", 2, 3},
      {"Retreiving image information for: 2.ppm (3 / 3)", 3, 3},
      // Made for every row, also for the images already in a group.
      {"Comparing images... (1 / 3)", 1, 3},
      {"Comparing images... (2 / 3)", 2, 3},
      {"Comparing images... (3 / 3)", 3, 3},
  };
  EXPECT_EQ(calls, expected);
}

TEST_F(FinderTest, StopRequestsEndTheRunAtTheStopPoints) {
  struct TCase {
    const char* Name;
    int StopAtCall;  // 1-based progress call that sets the request; 0 sets it before the run
    size_t Records;
    std::vector<std::vector<int32_t>> Groups;
    bool Stopped;
  };
  // Four pictures: 0~2 and 1~3. Calls 1..4 fingerprint, 5..8 compare.
  const std::vector<TCase> cases = {
      {"before the run: cleared, no effect", 0, 4, {{2}, {3}, {}, {}}, false},
      {"first file", 1, 0, {}, true},
      {"third file", 3, 2, {{}, {}}, true},
      {"first comparison row", 5, 4, {{}, {}, {}, {}}, true},
      {"second comparison row", 6, 4, {{2}, {}, {}, {}}, true},
      // The last row has no inner step, so the request is never honoured.
      {"last comparison row", 8, 4, {{2}, {3}, {}, {}}, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<std::string> names = Pictures({Gray(10), Gray(200), Gray(10), Gray(200)});
    int call = 0;
    finder_.OnFindProgress = [&](void*, const std::string&, int, int) {
      if (++call == c.StopAtCall) finder_.StopRequested = true;
    };
    finder_.StopRequested = c.StopAtCall == 0;
    finder_.FindDuplicates(names, 90);
    EXPECT_EQ(finder_.Images.size(), c.Records);
    EXPECT_EQ(Groups(), c.Groups);
    EXPECT_EQ(finder_.FileNames, names);
    EXPECT_EQ(finder_.Stopped, c.Stopped);
    EXPECT_FALSE(finder_.StopRequested);
  }
}

// The same through the real loader, on files.
TEST(FinderFiles, GroupsCopiesOfRealFiles) {
  const std::string picture = BlocksPpm(80, 60);
  TTempTree tree;
  // The file with an unknown magic follows a copy of the picture: its
  // header sets the dimensions and the reader gives up, leaving the copy's
  // pixels in the working image.
  const std::vector<std::string> names = {
      tree.Add("a.ppm", picture), tree.Add("b.ppm", picture), tree.Add("bad.ppm", "P9\n80 60\n255\n"),
      tree.Add("c.ppm", BlocksPpm(40, 30)), tree.Add("d.ppm", BlocksPpm(80, 60, 7)),
      tree.Add("f.ppm", picture + "junk"), tree.Add("bw1.pbm", HalvesPbm(70, 50)),
      tree.Add("bw2.pbm", HalvesPbm(70, 50)),
  };
  TDFinder finder;
  finder.FindDuplicates(names, 90);
  ASSERT_EQ(finder.Images.size(), names.size());
  const TDImage& a = *finder.Images[0];
  EXPECT_EQ(a.Duplicates, (std::vector<int32_t>{1, 3, 5}));
  EXPECT_EQ(a.Width, 80);
  EXPECT_EQ(a.Height, 60);
  EXPECT_EQ(a.FileSize, static_cast<int64_t>(picture.size()));
  EXPECT_EQ(finder.Images[1]->Similarity, 0.999755859375);
  EXPECT_EQ(finder.Images[3]->Width, 40);
  EXPECT_GT(finder.Images[3]->Similarity, 0.9);
  // A different picture, a damaged file and black-and-white copies form no group.
  for (size_t k = 1; k < names.size(); ++k) EXPECT_FALSE(finder.Images[k]->HasDuplicates) << names[k];
  EXPECT_EQ(finder.Unreadable, (std::vector<int32_t>{2}));
  EXPECT_EQ(finder.Images[6]->Bitmap.PixelFormat(), im1bit);
}

}  // namespace

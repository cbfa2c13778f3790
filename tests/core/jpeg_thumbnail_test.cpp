// JPEG files read straight into a stretched copy from the sampled rows only:
// the pixels must be exactly those of a full load stretched without a filter,
// for every kind of JPEG file the reader meets, at thumbnail sizes that skip
// a few rows, whole blocks of rows or none. Damaged files are left to the
// full path, and a scan gives the same records either way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempTree.h"
#include "finder/DFinder.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"
#include "io/JpegThumbnail.h"

namespace {

const std::string kDir = std::string(TARVELLE_FIXTURES) + "/jpegskip/";

// One picture of 331 x 517 pixels, saved in every layout.
const char* const kClean[] = {
    "baseline420.jpg",      // chroma halved both ways
    "baseline422.jpg",      // chroma halved across
    "baseline440.jpg",      // chroma halved down
    "baseline444.jpg",      // full chroma
    "progressive420.jpg",   // several scans
    "progressive444.jpg",
    "gray.jpg",             // one component
    "grayprogressive.jpg",
    "cmyk.jpg",             // four components, converted to blue, green, red
};

std::string Bytes(TImBitmap& b) {
  std::string out;
  for (int y = 0; y < b.Height(); ++y)
    out.append(reinterpret_cast<const char*>(b.Scanline(y)), static_cast<size_t>(b.Width()) * 3);
  return out;
}

TEST(JpegThumbnail, SampledRowsAreThoseOfAFullDecode) {
  struct TSize {
    int W, H;
  };
  // 64 x 64 skips a few rows at a time; 64 x 7 and 5 x 3 skip whole blocks
  // of rows; the full size skips none; 400 x 600 repeats rows.
  const TSize sizes[] = {{64, 64}, {64, 7}, {5, 3}, {17, 250}, {331, 517}, {400, 600}, {1, 1}};
  for (const char* name : kClean) {
    SCOPED_TRACE(name);
    TImageIO io;
    TImBitmap full;
    io.SetAttachedBitmap(&full);
    io.LoadFromFile(kDir + name);
    ASSERT_FALSE(io.Aborting);
    ASSERT_EQ(full.PixelFormat(), im24bgr);
    ASSERT_EQ(full.Width(), 331);
    ASSERT_EQ(full.Height(), 517);
    for (const TSize& s : sizes) {
      SCOPED_TRACE(std::to_string(s.W) + "x" + std::to_string(s.H));
      TImBitmap expected;
      expected.Assign(full);
      TImageProc proc;
      proc.AutoUndo = false;
      proc.SetAttachedBitmap(&expected);
      proc.Resample(s.W, s.H, rfNone);
      TImBitmap thumb;
      const TJpegThumbnailResult r = ReadJpegThumbnail(kDir + name, s.W, s.H, thumb);
      ASSERT_TRUE(r.Done);
      EXPECT_EQ(r.Width, 331);
      EXPECT_EQ(r.Height, 517);
      ASSERT_EQ(thumb.PixelFormat(), im24bgr);
      ASSERT_EQ(thumb.Width(), s.W);
      ASSERT_EQ(thumb.Height(), s.H);
      EXPECT_TRUE(Bytes(thumb) == Bytes(expected));
    }
  }
}

TEST(JpegThumbnail, LeavesDamagedFilesToTheFullPath) {
  TTempTree tree;
  const std::string notJpeg = tree.Add("text.jpg", "not a picture at all");
  TImBitmap thumb;
  // Cut short: the library warns and completes the rows; the full path
  // decides what such a file gives.
  EXPECT_FALSE(ReadJpegThumbnail(kDir + "truncated420.jpg", 64, 64, thumb).Done);
  EXPECT_FALSE(ReadJpegThumbnail(notJpeg, 64, 64, thumb).Done);
  EXPECT_THROW(ReadJpegThumbnail(tree.Path("missing.jpg"), 64, 64, thumb), TImOpenError);
  // A cancelled read is not done either.
  const std::atomic<bool> cancel{true};
  EXPECT_FALSE(ReadJpegThumbnail(kDir + "baseline420.jpg", 64, 64, thumb, &cancel).Done);
}

// The records of a scan over the fixtures (and copies, a damaged and an
// unreadable file), field by field and thumbnail byte by byte.
std::vector<std::string> ScanRecords(TFinderEngine engine, int threads, const std::vector<std::string>& names) {
  TDFinder finder;
  finder.Engine = engine;
  finder.Threads = threads;
  finder.FindDuplicates(names, 95);
  std::vector<std::string> out;
  for (const auto& r : finder.Images) {
    char sim[40];
    std::snprintf(sim, sizeof sim, "%a", r->Similarity);
    std::string line = std::to_string(r->Index) + " " + std::to_string(r->Width) + "x" + std::to_string(r->Height) +
                       " " + std::to_string(r->FileSize) + " " + sim + (r->Unreadable ? " unreadable" : "") + " [";
    for (int32_t d : r->Duplicates) line += " " + std::to_string(d);
    line += " ] fmt " + std::to_string(r->Bitmap.PixelFormat()) + " " + std::to_string(r->Bitmap.Width()) + "x" +
            std::to_string(r->Bitmap.Height()) + " ";
    if (r->Bitmap.PixelFormat() == im24bgr) line += Bytes(r->Bitmap);
    out.push_back(line);
  }
  return out;
}

TEST(JpegThumbnail, ScansGiveTheReferenceRecords) {
  TTempTree tree;
  std::vector<std::string> names;
  for (const char* name : kClean) names.push_back(kDir + name);
  names.push_back(kDir + "truncated420.jpg");
  names.push_back(tree.Add("upper.JPEG", "junk"));
  names.push_back(tree.Path("gone.jpg"));
  names.push_back(kDir + "baseline420.jpg");
  const std::vector<std::string> reference = ScanRecords(TFinderEngine::Reference, 1, names);
  ASSERT_EQ(reference.size(), names.size());
  // The layouts of one picture group at 95 %.
  EXPECT_NE(reference[0].find("[ 1 2 3"), std::string::npos) << reference[0].substr(0, 80);
  EXPECT_EQ(ScanRecords(TFinderEngine::Fast, 1, names), reference);
  EXPECT_EQ(ScanRecords(TFinderEngine::Fast, 4, names), reference);
}

}  // namespace

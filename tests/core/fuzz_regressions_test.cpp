// Every input the fuzz targets once failed on (fuzz/regressions/<family>/)
// loads again through the loader as a scan loads it: no crash, no escaping
// error other than the metafile error, and no long decode.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TempTree.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"

namespace fs = std::filesystem;

TEST(FuzzRegressions, EveryKeptInputLoadsQuietly) {
  const fs::path folder = fs::path(TARVELLE_FIXTURES) / ".." / ".." / "fuzz" / "regressions";
  const std::map<std::string, std::vector<std::string>> extensions = {
      {"bmp", {".bmp"}}, {"jpeg", {".jpg"}}, {"png", {".png"}}, {"gif", {".gif"}},
      {"tiff", {".tif"}}, {"tga", {".tga"}}, {"pcx", {".pcx"}}, {"ico", {".ico", ".cur"}},
      {"pnm", {".ppm"}}, {"wbmp", {".wbmp"}}, {"wmf", {".wmf"}}, {"emf", {".emf"}},
      {"jp2", {".jp2", ".j2k"}},
  };
  if (!fs::exists(folder)) GTEST_SKIP() << "no regression inputs";
  TTempTree tree;
  for (const auto& family : fs::directory_iterator(folder)) {
    const auto ext = extensions.find(family.path().filename().string());
    ASSERT_NE(ext, extensions.end()) << "unknown family folder " << family.path();
    for (const auto& input : fs::directory_iterator(family.path())) {
      for (const std::string& e : ext->second) {
        SCOPED_TRACE(input.path().string() + " as " + e);
        const std::string copy = tree.Path("input" + e);
        fs::copy_file(input.path(), copy, fs::copy_options::overwrite_existing);
        const auto start = std::chrono::steady_clock::now();
        TImageIO io;
        try {
          io.LoadFromFile(copy);
        } catch (const TImMetafileError&) {
        }
        TImBitmap* bmp = io.Bitmap();
        if (bmp->Width() > 0 && bmp->Height() > 0) {
          TImageProc proc;
          proc.AutoUndo = false;
          proc.SetAttachedBitmap(bmp);
          proc.Resample(64, 64, rfNone);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
      }
    }
  }
}

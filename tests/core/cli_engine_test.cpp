// tarvelle-cli scan --engine and --timing: the two engines print the same
// bytes, and the timing figures appear only when asked for.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "PpmFixture.h"
#include "TempTree.h"
#include "bench/SyntheticImages.h"
#include "finder/GrayCompare.h"
#include "tests/core/CliRun.h"

namespace {

std::string CliOut(const std::vector<std::string>& args, int* status = nullptr) {
  const TCliRun run = RunCli(args);
  if (status) *status = run.Status;
  return run.Out;
}

// A 64 x 64 gray pixmap: the thumbnail is the picture itself.
std::string GrayPpm(const std::vector<uint8_t>& levels) {
  std::string out = "P6\n64 64\n255\n";
  for (uint8_t v : levels) out.append(3, static_cast<char>(v));
  return out;
}

// Levels whose difference sum against black is sum, the remainder spread
// over the first (front) or the last pixels.
std::vector<uint8_t> LevelsWithSum(int64_t sum, bool front) {
  std::vector<uint8_t> v(4096);
  const int q = static_cast<int>(sum / 4096), r = static_cast<int>(sum % 4096);
  for (int k = 0; k < 4096; ++k) v[k] = static_cast<uint8_t>(q + ((front ? k < r : k >= 4096 - r) ? 1 : 0));
  return v;
}

TEST(CliEngines, PrintTheSameJsonAtEveryThreshold) {
  TTempTree tree;
  tree.Add("a/black.ppm", GrayPpm(std::vector<uint8_t>(4096, 0)));
  int k = 0;
  for (int threshold : {50, 70, 85, 90, 95, 99}) {
    const TThresholdBand band = TThresholdBand::For(threshold);
    for (int64_t sum : {band.PassMax, band.FailMin - 1, band.FailMin})
      for (bool front : {true, false})
        tree.Add("b/" + std::to_string(k++) + ".ppm", GrayPpm(LevelsWithSum(sum, front)));
  }
  // Photo-like pictures and near copies at other sizes.
  for (const synthetic::TItem& item : synthetic::MakeCorpus(5, 16, 0.4)) {
    TImBitmap b;
    const int w = static_cast<int>(100 * item.Scale), h = static_cast<int>(75 * item.Scale);
    synthetic::Paint(synthetic::TPicture::FromSeed(item.Seed), item.Variant, w, h, b);
    std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 2; c >= 0; --c) ppm += static_cast<char>(b.Scanline(y)[3 * x + c]);
    tree.Add("c/" + std::to_string(k++) + ".ppm", ppm);
  }
  tree.Add("d/bw.pbm", HalvesPbm(64, 64));
  tree.Add("d/bw2.pbm", HalvesPbm(64, 64));
  tree.Add("d/junk.ppm", "P6\n64 64\n255\nshort");
  tree.Add("d/copy.ppm", GrayPpm(std::vector<uint8_t>(4096, 0)));

  int groupsSeen = 0;
  for (int t = 50; t <= 100; ++t) {
    SCOPED_TRACE(t);
    int statusRef = -1, statusFast = -1;
    const std::string ref =
        CliOut({"scan", "--format", "json", "--similarity", std::to_string(t), "--engine", "reference", tree.Root()},
               &statusRef);
    const std::string fast =
        CliOut({"scan", "--format", "json", "--similarity", std::to_string(t), "--engine", "fast", tree.Root()},
               &statusFast);
    EXPECT_EQ(statusRef, 0);
    EXPECT_EQ(statusFast, 0);
    ASSERT_NE(ref.find("\"groups\""), std::string::npos) << ref;
    EXPECT_EQ(fast, ref);
    // And the default engine is the fast one.
    if (t % 10 == 0) {
      EXPECT_EQ(CliOut({"scan", "--format", "json", "--similarity", std::to_string(t), tree.Root()}), ref);
    }
    if (ref.find("\"original\"") != std::string::npos) ++groupsSeen;
  }
  // The set is not trivial: most thresholds form groups.
  EXPECT_GT(groupsSeen, 40);
}

TEST(CliEngines, TimingIsPrintedOnlyWhenAsked) {
  TTempTree tree;
  tree.Add("a.ppm", BlocksPpm(80, 60));
  tree.Add("b.ppm", BlocksPpm(80, 60));
  for (const char* engine : {"reference", "fast"}) {
    SCOPED_TRACE(engine);
    const std::string plain = CliOut({"scan", "--format", "json", "--engine", engine, tree.Root()});
    const std::string timed = CliOut({"scan", "--format", "json", "--timing", "--engine", engine, tree.Root()});
    EXPECT_EQ(plain.find("timing"), std::string::npos);
    const std::regex field(
        "\n  \"timing\": \\{\"walk_s\": [0-9]+\\.[0-9]+, \"fingerprint_s\": [0-9]+\\.[0-9]+, "
        "\"compare_s\": [0-9]+\\.[0-9]+\\},\n  \"stopped\": false\n\\}\n$");
    EXPECT_TRUE(std::regex_search(timed, field)) << timed;
    // Without the timing line the output is unchanged.
    EXPECT_EQ(std::regex_replace(timed, std::regex("  \"timing\": [^\n]*\n"), ""), plain);

    const std::string text = CliOut({"scan", "--timing", "--engine", engine, tree.Root()});
    for (const char* line : {"\nFolder walk: ", "\nFingerprint phase: ", "\nComparison phase: "})
      EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(CliOut({"scan", "--engine", engine, tree.Root()}).find("phase"), std::string::npos);
  }
}

}  // namespace

// The fast scan engine against the reference engine: the integer form of the
// similarity decision, the SIMD difference sums and their lower bounds, and
// whole runs on pictures placed on the threshold boundary and on generated
// photo-like sets, with one thread and with several.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/SyntheticImages.h"
#include "finder/DFinder.h"
#include "finder/GrayCompare.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"

namespace {

// A 64 x 64 picture of gray levels (R = G = B, so the gray value is the level).
void PaintGray(TImBitmap& b, const std::vector<uint8_t>& levels) {
  b.Allocate(64, 64, im24bgr);
  for (int y = 0; y < 64; ++y) {
    uint8_t* row = b.Scanline(y);
    for (int x = 0; x < 64; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = levels[y * 64 + x];
  }
}

// Gray levels whose difference sum against an all-black picture is sum, laid
// out in one of three ways: the remainder spread over the first pixels, over
// the last pixels, or everything packed into full-white pixels at the start.
// The order matters to the measure, which rounds after every pixel.
std::vector<uint8_t> LevelsWithSum(int64_t sum, int layout) {
  std::vector<uint8_t> v(4096, 0);
  if (layout == 2) {
    for (int k = 0; k < 4096 && sum > 0; ++k) {
      v[k] = static_cast<uint8_t>(std::min<int64_t>(255, sum));
      sum -= v[k];
    }
    return v;
  }
  const int q = static_cast<int>(sum / 4096), r = static_cast<int>(sum % 4096);
  for (int k = 0; k < 4096; ++k) {
    const bool extra = layout == 0 ? k < r : k >= 4096 - r;
    v[k] = static_cast<uint8_t>(q + (extra ? 1 : 0));
  }
  return v;
}

double Measure(TImBitmap& a, TImBitmap& b) {
  TImageProc proc;
  proc.AutoUndo = false;
  proc.SetAttachedBitmap(&a);
  return proc.ComputeSimilarity(b);
}

TEST(GrayCompare, IntegerDecisionAgreesWithTheMeasure) {
  TImBitmap black, other;
  PaintGray(black, std::vector<uint8_t>(4096, 0));
  const int64_t maxSum = 4096 * 255;
  for (int threshold = -2; threshold <= 101; ++threshold) {
    SCOPED_TRACE(threshold);
    const TThresholdBand band = TThresholdBand::For(threshold);
    // At most two sums are left to the measure itself.
    EXPECT_GE(band.FailMin - band.PassMax, 1);
    EXPECT_LE(band.FailMin - band.PassMax, 3);
    for (int64_t sum = band.PassMax - 2; sum <= band.FailMin + 2; ++sum) {
      if (sum < 0 || sum > maxSum) continue;
      for (int layout = 0; layout < 3; ++layout) {
        PaintGray(other, LevelsWithSum(sum, layout));
        const bool passes = SimilarityPasses(Measure(black, other), threshold);
        switch (band.Classify(sum)) {
          case TThresholdBand::Pass: EXPECT_TRUE(passes) << sum; break;
          case TThresholdBand::Fail: EXPECT_FALSE(passes) << sum; break;
          case TThresholdBand::Exact: break;
        }
      }
    }
  }
  // Thresholds that are multiples of 5 put the boundary on a whole sum.
  EXPECT_EQ(TThresholdBand::For(95).Classify(51969), TThresholdBand::Exact);
  EXPECT_EQ(TThresholdBand::For(90).Classify(104193), TThresholdBand::Exact);
  EXPECT_EQ(TThresholdBand::For(95).Classify(51968), TThresholdBand::Pass);
  EXPECT_EQ(TThresholdBand::For(95).Classify(51970), TThresholdBand::Fail);
  EXPECT_EQ(TThresholdBand::For(100).Classify(0), TThresholdBand::Fail);
}

TEST(GrayCompare, VectorSumsMatchPlainSumsAndBoundsStayBelow) {
  synthetic::TRandom r(7);
  const std::vector<TGraySadVariant> variants = GraySadVariants();
  ASSERT_GE(variants.size(), 1u);
  EXPECT_STREQ(variants.front().Name, "scalar");
  EXPECT_STREQ(GraySadKind(), variants.back().Name);
  std::vector<uint8_t> a(4096), b(4096);
  for (int round = 0; round < 200; ++round) {
    // Unrelated pictures, near copies and extremes.
    const int spread = round % 4 == 0 ? 256 : round % 4 == 1 ? 3 : round % 4 == 2 ? 40 : 0;
    for (int k = 0; k < 4096; ++k) {
      a[k] = static_cast<uint8_t>(round % 7 == 0 ? 255 * (k & 1) : r.Below(256));
      const int d = spread == 256 ? r.Below(256) - a[k] : spread ? r.Below(2 * spread + 1) - spread : 0;
      b[k] = static_cast<uint8_t>(std::clamp(a[k] + d, 0, 255));
    }
    uint32_t exact = 0;
    for (int k = 0; k < 4096; ++k) exact += static_cast<uint32_t>(std::abs(a[k] - b[k]));
    for (const TGraySadVariant& v : variants) {
      SCOPED_TRACE(v.Name);
      for (uint32_t stopAt : {0u, 1u, exact / 3, exact, exact + 1, 4096u * 255u + 1u}) {
        const uint32_t got = v.Fn(a.data(), b.data(), stopAt);
        if (exact < stopAt) EXPECT_EQ(got, exact);
        else EXPECT_GE(got, stopAt);
      }
    }
    TGrayPrint pa, pb;
    MakeGrayPrint(a.data(), pa);
    MakeGrayPrint(b.data(), pb);
    const uint32_t totalBound = pa.Total > pb.Total ? pa.Total - pb.Total : pb.Total - pa.Total;
    EXPECT_LE(totalBound, CoarseBound(pa, pb));
    EXPECT_LE(CoarseBound(pa, pb), FineBound(pa, pb));
    EXPECT_LE(FineBound(pa, pb), exact);
  }
}

// A loader that paints registered pictures, or fails like a reader (Aborting)
// or like the open (an exception). Read-only after setup, so one instance
// per thread can share the table.
struct TFakePicture {
  int Width = 64, Height = 64;
  std::function<void(TImBitmap&)> Paint;  // empty: the reader gives up
  bool Unopenable = false;
};

class TPaintingIO : public TImageIO {
 public:
  explicit TPaintingIO(const std::map<std::string, TFakePicture>& pictures) : pictures_(pictures) {}
  void LoadFromFile(const std::string& fileName) override {
    Aborting = true;
    const auto it = pictures_.find(fileName);
    if (it == pictures_.end() || it->second.Unopenable) throw TImOpenError("Cannot open file " + fileName);
    if (!it->second.Paint) return;
    it->second.Paint(*Bitmap());
    Params().Width = it->second.Width;
    Params().Height = it->second.Height;
    Aborting = false;
  }

 private:
  const std::map<std::string, TFakePicture>& pictures_;
};

struct TCall {
  std::string Text;
  int Position, Maximum;
  bool operator==(const TCall&) const = default;
};

// Everything a run leaves behind, for comparing runs.
struct TOutcome {
  std::vector<std::string> Records;  // one line per record
  std::vector<int32_t> Unreadable;
  std::vector<TCall> Calls;
  bool Stopped = false;
  bool operator==(const TOutcome&) const = default;
};

void PrintTo(const TOutcome& o, std::ostream* os) {
  for (const std::string& r : o.Records) *os << r << "\n";
  *os << "stopped " << o.Stopped << ", " << o.Calls.size() << " calls";
}

class EngineTest : public ::testing::Test {
 protected:
  std::string Add(TFakePicture p) {
    const std::string name = "/set/" + std::to_string(pictures_.size()) + ".img";
    pictures_[name] = std::move(p);
    names_.push_back(name);
    return name;
  }

  // stopAtCall: the 1-based progress call that sets a stop request (0: none).
  TOutcome Run(TFinderEngine engine, int threads, int threshold, int stopAtCall = 0) {
    TDFinder finder;
    finder.Engine = engine;
    finder.Threads = threads;
    finder.LoaderFactory = [this] { return std::make_unique<TPaintingIO>(pictures_); };
    TOutcome out;
    finder.OnFindProgress = [&](void*, const std::string& text, int position, int maximum) {
      out.Calls.push_back({text, position, maximum});
      if (static_cast<int>(out.Calls.size()) == stopAtCall) finder.StopRequested = true;
    };
    finder.FindDuplicates(names_, threshold);
    for (const auto& r : finder.Images) {
      std::string line = std::to_string(r->Index) + " " + std::to_string(r->Width) + "x" + std::to_string(r->Height) +
                         " fmt" + std::to_string(r->Bitmap.PixelFormat()) + " " +
                         std::to_string(r->Bitmap.Width()) + "x" + std::to_string(r->Bitmap.Height()) + " dups";
      for (int32_t d : r->Duplicates) line += " " + std::to_string(d);
      char sim[40];
      std::snprintf(sim, sizeof sim, " sim %a", r->Similarity);
      line += sim;
      line += r->HasDuplicates ? " has" : "";
      line += r->Unreadable ? " unreadable" : "";
      // The thumbnails must be the same bytes too.
      uint64_t hash = 1469598103934665603ull;
      for (int y = 0; y < r->Bitmap.Height(); ++y) {
        const uint8_t* row = r->Bitmap.Scanline(y);
        for (int k = 0; k < r->Bitmap.RowLen(); ++k) hash = (hash ^ row[k]) * 1099511628211ull;
      }
      line += " thumb " + std::to_string(hash);
      out.Records.push_back(line);
    }
    out.Unreadable = finder.Unreadable;
    out.Stopped = finder.Stopped;
    EXPECT_FALSE(finder.StopRequested);
    return out;
  }

  // Both engines, the fast one with one and with three threads, at every
  // threshold given.
  void ExpectSameOutcomes(const std::vector<int>& thresholds) {
    for (int t : thresholds) {
      SCOPED_TRACE(t);
      const TOutcome reference = Run(TFinderEngine::Reference, 1, t);
      EXPECT_EQ(Run(TFinderEngine::Fast, 1, t), reference);
      EXPECT_EQ(Run(TFinderEngine::Fast, 3, t), reference);
    }
  }

  std::map<std::string, TFakePicture> pictures_;
  std::vector<std::string> names_;
};

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int t = from; t <= to; ++t) v.push_back(t);
  return v;
}

TEST_F(EngineTest, PicturesOnTheBoundaryGroupAsTheReferenceDoes) {
  // A black picture, then pictures whose difference sum against it lies on,
  // just below and just above the boundary of several thresholds, each in
  // three layouts; their sums against each other land elsewhere.
  auto gray = [](std::vector<uint8_t> levels) {
    TFakePicture p;
    p.Paint = [levels](TImBitmap& b) { PaintGray(b, levels); };
    return p;
  };
  Add(gray(std::vector<uint8_t>(4096, 0)));
  for (int threshold : {50, 63, 75, 90, 95, 99}) {
    const TThresholdBand band = TThresholdBand::For(threshold);
    for (int64_t sum : {band.PassMax, band.PassMax + 1, band.FailMin - 1, band.FailMin})
      for (int layout = 0; layout < 3; ++layout) Add(gray(LevelsWithSum(sum, layout)));
  }
  // A copy of the black picture late in the list, a black-and-white picture
  // and files that cannot be read.
  Add(gray(std::vector<uint8_t>(4096, 0)));
  TFakePicture bw;
  bw.Paint = [](TImBitmap& b) {
    b.Allocate(64, 64, im1bit);
    b.Fill(1);
  };
  Add(bw);
  Add(bw);
  Add(TFakePicture{});
  TFakePicture unopenable;
  unopenable.Unopenable = true;
  Add(unopenable);
  std::vector<int> thresholds = Range(50, 100);
  for (int t : {-3, 0, 1, 101}) thresholds.push_back(t);
  ExpectSameOutcomes(thresholds);
}

TEST_F(EngineTest, GeneratedPhotoSetsGroupAsTheReferenceDoes) {
  for (const synthetic::TItem& item : synthetic::MakeCorpus(11, 70, 0.35)) {
    TFakePicture p;
    p.Width = static_cast<int>(120 * item.Scale);
    p.Height = static_cast<int>(90 * item.Scale);
    p.Paint = [item, w = p.Width, h = p.Height](TImBitmap& b) {
      synthetic::Paint(synthetic::TPicture::FromSeed(item.Seed), item.Variant, w, h, b);
    };
    Add(p);
  }
  ExpectSameOutcomes({50, 60, 70, 75, 80, 85, 88, 90, 92, 95, 97, 99, 100});
  // The near copies form groups at 90 while the other pictures stay apart.
  const TOutcome at90 = Run(TFinderEngine::Fast, 2, 90);
  const auto heads = std::count_if(at90.Records.begin(), at90.Records.end(),
                                   [](const std::string& r) { return r.find(" has") != std::string::npos; });
  EXPECT_GT(heads, 3);
  EXPECT_LT(heads, 30);
}

TEST_F(EngineTest, ProgressAndStopPointsAreTheReferenceOnes) {
  // Groups 0~2~4 and 1~3, an unreadable file and a last picture alone.
  auto level = [](uint8_t g) {
    TFakePicture p;
    p.Width = 90;
    p.Height = 70;
    p.Paint = [g](TImBitmap& b) {
      b.Allocate(90, 70, im24bgr);
      b.Fill(g * 0x010101u);
    };
    return p;
  };
  for (uint8_t g : {10, 200, 12, 201, 10}) Add(level(g));
  Add(TFakePicture{});
  Add(level(100));
  const int calls = 2 * static_cast<int>(names_.size());
  for (int stopAt = 0; stopAt <= calls; ++stopAt) {
    SCOPED_TRACE(stopAt);
    const TOutcome reference = Run(TFinderEngine::Reference, 1, 90, stopAt);
    EXPECT_EQ(Run(TFinderEngine::Fast, 1, 90, stopAt), reference);
    EXPECT_EQ(Run(TFinderEngine::Fast, 2, 90, stopAt), reference);
  }
}

TEST_F(EngineTest, AnErrorFromTheProgressHandlerReachesTheCaller) {
  for (int k = 0; k < 8; ++k) {
    TFakePicture p;
    p.Paint = [](TImBitmap& b) {
      b.Allocate(64, 64, im24bgr);
      b.Fill(0x808080);
    };
    Add(p);
  }
  // Raised in the third fingerprint call and in the third comparison row.
  for (int raiseAt : {3, 11}) {
    for (TFinderEngine engine : {TFinderEngine::Reference, TFinderEngine::Fast}) {
      SCOPED_TRACE(raiseAt);
      TDFinder finder;
      finder.Engine = engine;
      finder.LoaderFactory = [this] { return std::make_unique<TPaintingIO>(pictures_); };
      int calls = 0;
      finder.OnFindProgress = [&](void*, const std::string&, int, int) {
        if (++calls == raiseAt) throw std::runtime_error("handler failed");
      };
      EXPECT_THROW(finder.FindDuplicates(names_, 90), std::runtime_error);
      // The records built so far stay.
      EXPECT_EQ(finder.Images.size(), raiseAt == 3 ? 2u : 8u);
    }
  }
}

TEST(EngineDefaults, FastIsTheDefaultEngine) {
  TDFinder finder;
  EXPECT_EQ(finder.Engine, TFinderEngine::Fast);
  EXPECT_EQ(finder.Threads, 0);
}

}  // namespace

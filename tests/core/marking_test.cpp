// The automatic marking of the lesser copies in a group.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "finder/DFinder.h"
#include "finder/Marking.h"

namespace {

struct TPic {
  int Width, Height;
  int64_t Size;
};

// Record 0 is the original, the others its duplicates; returns the marks.
std::vector<bool> Mark(const std::vector<TPic>& pics, TMarkingRules rules, bool originalMarkedBefore = false) {
  std::vector<std::unique_ptr<TDImage>> images;
  for (const TPic& p : pics) {
    auto r = std::make_unique<TDImage>(static_cast<int32_t>(images.size()));
    r->Width = p.Width;
    r->Height = p.Height;
    r->FileSize = p.Size;
    if (!images.empty()) images[0]->AddDuplicate(r->Index);
    images.push_back(std::move(r));
  }
  images[0]->Marked = originalMarkedBefore;
  ApplyMarkingRules(images, *images[0], rules);
  std::vector<bool> marks;
  for (const auto& r : images) marks.push_back(r->Marked);
  return marks;
}

TEST(Marking, MarksTheLesserCopies) {
  const TMarkingRules both;
  const TMarkingRules dimOnly{true, false};
  const TMarkingRules sizeOnly{false, true};
  const TMarkingRules none{false, false};
  struct TCase {
    const char* Name;
    std::vector<TPic> Pics;
    TMarkingRules Rules;
    std::vector<bool> Expected;
  };
  const std::vector<TCase> cases = {
      {"not all dimensions equal: by area", {{800, 600, 1}, {800, 600, 9}, {640, 480, 9}}, both,
       {false, false, true}},
      {"equal dimensions: by size", {{10, 10, 100 << 10}, {10, 10, 120 << 10}, {10, 10, 90 << 10}}, both,
       {true, false, true}},
      {"equal dimensions and size: the duplicate", {{10, 10, 500}, {10, 10, 500}}, both, {false, true}},
      {"equal area, other shape: neither", {{640, 480, 1}, {480, 640, 2}}, both, {false, false}},
      {"a larger duplicate marks the original", {{640, 480, 9}, {800, 600, 1}}, both, {true, false}},
      // Areas past 32 bits: 65536 x 65536 must not wrap to 0.
      {"huge area", {{65536, 65536, 1}, {100, 100, 9}}, both, {false, true}},
      {"size rule off, equal dimensions", {{10, 10, 9}, {10, 10, 1}}, dimOnly, {false, false}},
      {"size rule off, other dimensions", {{20, 10, 1}, {10, 10, 9}}, dimOnly, {false, true}},
      {"dimension rule off, other dimensions", {{20, 10, 9}, {10, 10, 1}}, sizeOnly, {false, false}},
      {"both off", {{20, 10, 9}, {10, 10, 1}}, none, {false, false}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Mark(c.Pics, c.Rules), c.Expected);
  }
}

TEST(Marking, ClearsTheOriginalsMarkFirst) {
  EXPECT_EQ(Mark({{10, 10, 5}, {10, 10, 5}}, TMarkingRules{}, true), (std::vector<bool>{false, true}));
  EXPECT_EQ(Mark({{10, 10, 5}, {10, 10, 5}}, TMarkingRules{false, false}, true), (std::vector<bool>{false, false}));
}

TEST(Marking, AppliesToEveryGroupOfAFinder) {
  TDFinder finder;
  for (int i = 0; i < 4; ++i) {
    finder.Images.push_back(std::make_unique<TDImage>(i));
    finder.Images.back()->Width = finder.Images.back()->Height = 10;
    finder.Images.back()->FileSize = 10 - i;
  }
  finder.Images[0]->AddDuplicate(2);
  finder.Images[1]->AddDuplicate(3);
  ApplyMarkingRules(finder, TMarkingRules{});
  std::vector<bool> marks;
  for (const auto& r : finder.Images) marks.push_back(r->Marked);
  EXPECT_EQ(marks, (std::vector<bool>{false, false, true, true}));
}

}  // namespace

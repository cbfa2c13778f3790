// The settings store survives damage: a store cut short reads as the
// defaults, and a save killed at any moment leaves a store that reads back.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "TempStore.h"
#include "TempTree.h"
#include "settings/Registry.h"
#include "settings/SettingsUnit.h"

namespace {

class SettingsCrashTest : public TTempStoreTest {};

// Settings in which no field has its default.
TSettings Unusual(int variant) {
  TSettings s;
  s.FileTypes = static_cast<TImageFileTypes>(variant ? 0x5a5a & 0x7fff : 0x25a5);
  s.ScanFolder = variant ? "/srv/photos/second" : "/home/ann/first";
  s.Similarity = variant ? 61 : 77;
  s.DeleteToRecycleBin = false;
  s.MarkSmallerDimImages = false;
  s.MarkSmallerFileSizeImages = false;
  s.SaveSettings = false;
  return s;
}

bool IsDefault(const TSettings& s) {
  const TSettings d = [] {
    TSettings x;
    x.FileTypes = 0;
    x.ScanFolder.clear();
    x.Similarity = 90;
    x.DeleteToRecycleBin = x.MarkSmallerDimImages = x.MarkSmallerFileSizeImages = x.SaveSettings = true;
    return x;
  }();
  return s.FileTypes == d.FileTypes && s.ScanFolder == d.ScanFolder && s.Similarity == d.Similarity &&
         s.DeleteToRecycleBin == d.DeleteToRecycleBin && s.MarkSmallerDimImages == d.MarkSmallerDimImages &&
         s.MarkSmallerFileSizeImages == d.MarkSmallerFileSizeImages && s.SaveSettings == d.SaveSettings;
}

}  // namespace

TEST_F(SettingsCrashTest, AStoreCutShortAnywhereReadsAsTheDefaults) {
  Unusual(0).Save();
  const std::string full = StoreText();
  ASSERT_GT(full.size(), 100u);
  // Cut inside "Similarity=dword:77" the old format read 7; cut after any
  // line it read a mix of saved values and defaults.
  for (size_t len = 1; len < full.size(); ++len) {
    WriteStore(full.substr(0, len));
    ASSERT_TRUE(IsDefault(TSettings())) << "cut at " << len << ":\n" << full.substr(0, len);
  }
  WriteStore(full);
  EXPECT_EQ(TSettings().Similarity, 77);
}

TEST_F(SettingsCrashTest, ASaveKilledAtAnyMomentLeavesAReadableStore) {
  const TSettings a = Unusual(0), b = Unusual(1);
  a.Save();
  std::mt19937 random(12345);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Saves one set and then the other until it is killed.
      for (;;) {
        a.Save();
        b.Save();
      }
    }
    ::usleep(static_cast<useconds_t>(1000 + random() % 150000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    // Values are written one at a time, so the store may hold some of each
    // set, but every value is one that was saved: nothing reads as broken.
    const std::string text = StoreText();
    ASSERT_EQ(text.rfind("; Tarvelle settings store\n", 0), 0u) << text;
    ASSERT_TRUE(text.ends_with("\n; end of store\n")) << text;
    const TSettings now;
    ASSERT_FALSE(IsDefault(now));
    for (int bit = 0; bit < 15; ++bit) {
      const unsigned mask = 1u << bit;
      EXPECT_TRUE((now.FileTypes & mask) == (a.FileTypes & mask) || (now.FileTypes & mask) == (b.FileTypes & mask));
    }
    EXPECT_TRUE(now.ScanFolder == a.ScanFolder || now.ScanFolder == b.ScanFolder) << now.ScanFolder;
    EXPECT_TRUE(now.Similarity == a.Similarity || now.Similarity == b.Similarity) << now.Similarity;
    EXPECT_FALSE(now.DeleteToRecycleBin || now.MarkSmallerDimImages || now.MarkSmallerFileSizeImages ||
                 now.SaveSettings);
  }

  // A killed writer may leave its temporary file; the next write removes it
  // and keeps the store and its lock.
  b.Save();
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(tree_.Path("tarvelle"))) {
    ++entries;
    EXPECT_TRUE(e.path().filename() == "registry.ini" || e.path().filename() == "registry.lock") << e.path();
  }
  EXPECT_EQ(entries, 2);
  const TSettings last;
  EXPECT_EQ(last.ScanFolder, b.ScanFolder);
  EXPECT_EQ(last.FileTypes, b.FileTypes);
}

// The settings store: defaults, value types, the versioned key, the file
// format and its atomic rewrite.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TempStore.h"
#include "TempTree.h"
#include "settings/Registry.h"
#include "settings/SettingsUnit.h"

namespace {

class SettingsTest : public TTempStoreTest {};

void ExpectDefaults(const TSettings& s) {
  EXPECT_EQ(s.FileTypes, 0);
  EXPECT_EQ(s.ScanFolder, "");
  EXPECT_EQ(s.Similarity, 90);
  EXPECT_TRUE(s.DeleteToRecycleBin);
  EXPECT_TRUE(s.MarkSmallerDimImages);
  EXPECT_TRUE(s.MarkSmallerFileSizeImages);
  EXPECT_TRUE(s.SaveSettings);
}

TEST_F(SettingsTest, AnEmptyStoreGivesTheDefaults) {
  EXPECT_EQ(RegistryStoreFile(), tree_.Root() + "/tarvelle/registry.ini");
  ExpectDefaults(TSettings());
}

TEST_F(SettingsTest, SavesAndLoadsEveryField) {
  TSettings s;
  s.SetFileType(itJPEG, true);
  s.SetFileType(itWBMP, true);
  // Folder names are bytes: quotes, backslashes, line breaks, "=" and bytes
  // that are not UTF-8 all survive.
  s.ScanFolder = "/home/\"ann\"\\pics=1\nnext\r\t\xff\xe9 end ";
  s.Similarity = -7;
  s.DeleteToRecycleBin = false;
  s.MarkSmallerFileSizeImages = false;
  s.Save();
  const TSettings t;
  EXPECT_EQ(t.FileTypes, (1u << itJPEG) | (1u << itWBMP));
  EXPECT_EQ(t.ScanFolder, s.ScanFolder);
  EXPECT_EQ(t.Similarity, -7);
  EXPECT_FALSE(t.DeleteToRecycleBin);
  EXPECT_TRUE(t.MarkSmallerDimImages);
  EXPECT_FALSE(t.MarkSmallerFileSizeImages);
  EXPECT_TRUE(t.SaveSettings);
  // Every flag is written, as a number.
  for (const auto& row : ImageFileTypeRows())
    EXPECT_EQ(ReadRegInteger("Settings", row.ValueName, 7), row.Type == itJPEG || row.Type == itWBMP ? 1 : 0)
        << row.ValueName;
  // Nothing is left over from the rewrites.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(tree_.Path("tarvelle"))) {
    ++entries;
    EXPECT_TRUE(e.path().filename() == "registry.ini" || e.path().filename() == "registry.lock") << e.path();
  }
  EXPECT_EQ(entries, 2);
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeReadAsTheDefault) {
  WriteRegString("Settings", "Similarity", "95");
  WriteRegInteger("Settings", "itGIF", 5);
  WriteRegInteger("Settings", "ScanFolder", 3);
  WriteRegString("Settings", "SaveSettings", "0");
  TSettings s;
  EXPECT_EQ(s.Similarity, 90);
  EXPECT_TRUE(s.HasFileType(itGIF));
  EXPECT_EQ(s.ScanFolder, "");
  EXPECT_TRUE(s.SaveSettings);
  s.Save();
  EXPECT_EQ(ReadRegInteger("Settings", "itGIF", 0), 1);
  EXPECT_EQ(ReadRegInteger("Settings", "Similarity", 0), 90);
  EXPECT_EQ(ReadRegString("Settings", "ScanFolder", "?"), "");
  // Names compare without regard to case, as the platform store's do.
  EXPECT_EQ(ReadRegInteger("Settings", "SIMILARITY", 0), 90);
}

TEST_F(SettingsTest, KeepsTheVersionedKeyInAReadableFile) {
  EXPECT_EQ(RegistryKeyPath("Settings"), "\\Software\\Kelvane\\Tarvelle\\1.0\\Settings");
  WriteRegInteger("Settings", "Similarity", 75);
  WriteRegString("Settings", "ScanFolder", "/pics");
  EXPECT_EQ(StoreText(),
            "; Tarvelle settings store\n\n"
            "[\\Software\\Kelvane\\Tarvelle\\1.0\\Settings]\n"
            "Similarity=dword:75\n"
            "ScanFolder=sz:\"/pics\"\n"
            "\n"
            "; end of store\n");
  // A value under another version's key is not read.
  WriteStore("[\\Software\\Kelvane\\Tarvelle\\2.0\\Settings]\nSimilarity=dword:60\n");
  EXPECT_EQ(TSettings().Similarity, 90);
}

TEST_F(SettingsTest, ACorruptStoreReadsAsDefaultsAndIsReplacedOnWrite) {
  const std::string key = "[\\Software\\Kelvane\\Tarvelle\\1.0\\Settings]\n";
  for (const std::string& bad : {key + "Similarity=dword:7x\n", key + "Similarity=dword:99999999999\n",
                                 key + "ScanFolder=sz:\"unterminated\n", key + "ScanFolder=sz:\"a\\q\"\n",
                                 std::string("Similarity=dword:70\n"), key + "just text\n",
                                 key + "SaveSettings=dword:0\n\x01garbage"}) {
    SCOPED_TRACE(bad);
    WriteStore(bad);
    ExpectDefaults(TSettings());
  }
  WriteRegInteger("Settings", "Similarity", 66);
  EXPECT_EQ(TSettings().Similarity, 66);
  EXPECT_TRUE(std::filesystem::exists(tree_.Path("tarvelle/registry.ini.corrupt")));
}

TEST_F(SettingsTest, AStoreThatCannotBeCreatedChangesNothingSilently) {
  // The store's folder is taken by a file.
  tree_.Add("tarvelle", "not a folder");
  EXPECT_NO_THROW(TSettings().Save());
  ExpectDefaults(TSettings());
}

TEST(Version, TextsComeFromTheCompiledInVersion) {
  EXPECT_EQ(GetVersionText(), "1.0.0.0");
  EXPECT_EQ(GetShortVersionText(), "1.0");
  struct TCase {
    const char* Version;
    const char* Full;
    const char* Short;
  };
  for (const TCase& c : {TCase{"2.13.4.5", "2.13.4.5", "2.13"}, TCase{nullptr, "Unknown", "Unknown"},
                         TCase{"1.0", "Unknown", "Unknown"}, TCase{"1.0.0.0.0", "Unknown", "Unknown"},
                         TCase{"1.x.0.0", "Unknown", "Unknown"}, TCase{"65536.0.0.0", "Unknown", "Unknown"}}) {
    EXPECT_EQ(VersionTextOf(c.Version, false), c.Full) << (c.Version ? c.Version : "none");
    EXPECT_EQ(VersionTextOf(c.Version, true), c.Short) << (c.Version ? c.Version : "none");
  }
}

}  // namespace

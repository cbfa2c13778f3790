// A scan of a folder that mixes good pictures with damaged, misnamed,
// hostile, unreadable and looping entries: tarvelle-cli scan finishes, groups
// the planted duplicates, lists what it could not read and changes nothing.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CliRun.h"
#include "PpmFixture.h"
#include "TempTree.h"

namespace {

std::string RunScanJson(const std::string& folder, int& status) {
  const TCliRun run = RunCli({"scan", "--format", "json", folder});
  status = run.Status;
  return run.Out;
}

// The scan's JSON spelling of a path: bytes 0x80 and above that are not
// part of valid UTF-8 become \udcXX. The names used here have no other
// special bytes and no valid multi-byte sequences.
std::string JsonPath(const std::string& path) {
  std::string out = "\"";
  for (unsigned char c : path) {
    if (c >= 0x80) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\udc%02x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The same block picture as BlocksPpm, as an uncompressed 24-bit Targa with
// its first row at the top.
std::string BlocksTga(int width, int height, int seed = 0) {
  std::string out(18, '\0');
  out[2] = 2;
  out[12] = static_cast<char>(width & 255);
  out[13] = static_cast<char>(width >> 8);
  out[14] = static_cast<char>(height & 255);
  out[15] = static_cast<char>(height >> 8);
  out[16] = 24;
  out[17] = 0x20;
  const std::string ppm = BlocksPpm(width, height, seed);
  const std::string rgb = ppm.substr(ppm.size() - static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    out += rgb[i + 2];
    out += rgb[i + 1];
    out += rgb[i];
  }
  return out;
}

// Everything a scan could change about the entries below a folder, links
// not followed: type, size, modification time, permissions, link targets
// and the bytes of every file.
struct TEntryState {
  mode_t Mode = 0;
  off_t Size = 0;
  int64_t ModifiedNs = 0;
  std::string Content;
  bool operator==(const TEntryState&) const = default;
};

void Snapshot(const std::string& folder, std::map<std::string, TEntryState>& out) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    TEntryState& e = out[path];
    e.Mode = st.st_mode;
    e.Size = st.st_size;
    e.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
      if (n > 0) e.Content.assign(target, static_cast<size_t>(n));
    } else if (S_ISREG(st.st_mode)) {
      std::ifstream in(path, std::ios::binary);
      e.Content.assign(std::istreambuf_iterator<char>(in), {});
    } else if (S_ISDIR(st.st_mode)) {
      Snapshot(path, out);
    }
  }
}

// The JSON text of the groups, one string per group, and of the unreadable list.
void SplitResult(const std::string& json, std::vector<std::string>& groups, std::string& unreadable) {
  const size_t g = json.find("\"groups\": [");
  const size_t u = json.find("\"unreadable\": [");
  const size_t s = json.find("\"stopped\":");
  ASSERT_NE(g, std::string::npos);
  ASSERT_NE(u, std::string::npos);
  ASSERT_NE(s, std::string::npos);
  const std::string all = json.substr(g, u - g);
  unreadable = json.substr(u, s - u);
  size_t at = all.find("{\"original\"");
  while (at != std::string::npos) {
    const size_t next = all.find("{\"original\"", at + 1);
    groups.push_back(all.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
}

TEST(HostileFolder, ScanFinishesFindsTheDuplicatesAndChangesNothing) {
  TTempTree tree;
  const bool root = ::geteuid() == 0;
  const std::string a = BlocksPpm(64, 48), b = BlocksTga(60, 40, 11);
  const std::string bAsPpm = BlocksPpm(60, 40, 11);

  // Good pictures and their planted duplicates.
  tree.Add("a.ppm", a);
  tree.Add("copies/a-same.ppm", a);
  tree.Add("copies/a-large.ppm", BlocksPpm(128, 96));
  tree.Add("copies/deep/er/a-\xff\xfe.ppm", a);  // not valid UTF-8
  tree.Add("b.tga", b);
  tree.Add("copies/b-as-pixmap.ppm", bAsPpm);
  tree.Add("c.ppm", BlocksPpm(64, 48, 9));

  // Damaged files.
  tree.Add("damaged/truncated.ppm", a.substr(0, a.size() / 2));
  tree.Add("damaged/truncated.tga", b.substr(0, 10));
  tree.Add("damaged/empty.ppm", "");
  tree.Add("damaged/empty.tga", "");
  std::string flipped = b;
  for (size_t i = 0; i < 18; i += 3) flipped[i] = static_cast<char>(flipped[i] ^ 0x5a);
  tree.Add("damaged/header-flipped.tga", flipped);
  std::string noisy = a;
  for (size_t i = 20; i < noisy.size(); i += 97) noisy[i] = static_cast<char>(noisy[i] ^ (1 << (i % 8)));
  tree.Add("damaged/pixels-flipped.ppm", noisy);

  // Wrongly named: a Targa called .ppm and a pixmap called .tga.
  tree.Add("misnamed/targa.ppm", b);
  tree.Add("misnamed/pixmap.tga", a);

  // Headers that lie: sizes past any limit, a zero maximum, a minus sign
  // (the reader skips it and reads a 5 x 3 picture), a large picture with
  // hardly any data behind it.
  tree.Add("hostile/huge.ppm", "P6\n99999999 99999999\n255\n\x01\x02\x03");
  tree.Add("hostile/overflow.ppm", "P5\n4294967297 4294967297\n255\n\x01");
  tree.Add("hostile/zero-max.ppm", "P5\n4 4\n0\n" + std::string(16, '\x07'));
  tree.Add("hostile/negative.ppm", "P6\n-5 3\n255\n" + std::string(45, '\x10'));
  tree.Add("hostile/big-and-empty.ppm", "P6\n3000 2000\n255\n\x01\x02");
  std::string huge(18, '\0');
  huge[2] = 10;  // run-length true colour
  huge[12] = huge[13] = huge[14] = huge[15] = '\xff';
  huge[16] = 24;
  tree.Add("hostile/huge-rle.tga", huge + "\xff\x01\x02\x03");
  std::string runaway(18, '\0');
  runaway[2] = 10;
  runaway[12] = 100;
  runaway[14] = 100;
  runaway[16] = 24;
  tree.Add("hostile/runs-past-the-end.tga", runaway + std::string(64, '\xff'));

  // Entries a reader must never be handed or that cannot be opened.
  tree.Add("folder.ppm/");
  ASSERT_EQ(::mkfifo(tree.Path("pipe.ppm").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("self.ppm", tree.Path("self.ppm").c_str()), 0);
  ASSERT_EQ(::symlink("missing.ppm", tree.Path("dangling.ppm").c_str()), 0);
  ASSERT_EQ(::symlink("..", tree.Path("copies/up").c_str()), 0);
  ASSERT_EQ(::symlink(".", tree.Path("loop").c_str()), 0);
  tree.Add("locked.ppm", a);
  ASSERT_EQ(::chmod(tree.Path("locked.ppm").c_str(), 0), 0);

  std::map<std::string, TEntryState> before, after;
  Snapshot(tree.Root(), before);

  int status = -1;
  const std::string json = RunScanJson(tree.Root(), status);
  EXPECT_EQ(status, 0) << json;
  ASSERT_NE(json.find("\"stopped\": false"), std::string::npos) << json;

  std::vector<std::string> groups;
  std::string unreadable;
  SplitResult(json, groups, unreadable);

  // Each set of planted duplicates shares one group; c has no duplicate.
  auto groupOf = [&](const std::string& rel) -> std::string {
    for (const std::string& g : groups)
      if (g.find(JsonPath(tree.Path(rel))) != std::string::npos) return g;
    return {};
  };
  const std::vector<std::vector<std::string>> planted = {
      {"a.ppm", "copies/a-same.ppm", "copies/a-large.ppm", "copies/deep/er/a-\xff\xfe.ppm"},
      {"b.tga", "copies/b-as-pixmap.ppm"},
  };
  for (const auto& set : planted) {
    const std::string g = groupOf(set[0]);
    ASSERT_FALSE(g.empty()) << set[0] << " is in no group:\n" << json;
    for (const std::string& rel : set) EXPECT_NE(g.find(JsonPath(tree.Path(rel))), std::string::npos) << rel << "\n" << json;
  }
  EXPECT_NE(groupOf("a.ppm"), groupOf("b.tga"));
  EXPECT_EQ(groupOf("c.ppm"), "") << json;

  // What cannot be read is listed; what is not a file is not scanned at all.
  std::vector<std::string> expectUnreadable = {
      "damaged/truncated.ppm", "damaged/truncated.tga", "damaged/empty.ppm", "damaged/empty.tga",
      "misnamed/targa.ppm",    "hostile/huge.ppm",      "hostile/overflow.ppm", "hostile/zero-max.ppm",
      "hostile/huge-rle.tga",  "self.ppm",              "dangling.ppm",
  };
  // Root reads any file, whatever its permissions say.
  if (!root) expectUnreadable.push_back("locked.ppm");
  for (const std::string& rel : expectUnreadable)
    EXPECT_NE(unreadable.find(JsonPath(tree.Path(rel))), std::string::npos) << rel << " not reported\n" << json;
  for (const char* rel : {"a.ppm", "b.tga", "c.ppm", "copies/a-large.ppm"})
    EXPECT_EQ(unreadable.find(JsonPath(tree.Path(rel))), std::string::npos) << rel << "\n" << json;
  EXPECT_EQ(json.find(JsonPath(tree.Path("pipe.ppm"))), std::string::npos);
  EXPECT_EQ(json.find(JsonPath(tree.Path("folder.ppm"))), std::string::npos);
  // The looping links lead nowhere new: no folder is scanned twice.
  EXPECT_EQ(json.find("/loop/"), std::string::npos);
  EXPECT_EQ(json.find("/up/"), std::string::npos);

  Snapshot(tree.Root(), after);
  EXPECT_EQ(before.size(), after.size());
  for (const auto& [path, state] : before) {
    const auto it = after.find(path);
    ASSERT_NE(it, after.end()) << path << " disappeared";
    EXPECT_TRUE(it->second == state) << path << " changed";
  }
  ::chmod(tree.Path("locked.ppm").c_str(), 0600);
  std::ifstream locked(tree.Path("locked.ppm"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(locked), {}), a);
}

}  // namespace

#include "settings/Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// ------------------------------------------------------------ the model

enum class TValueType { Number, Text };

struct TValue {
  std::string Name;
  TValueType Type = TValueType::Number;
  int32_t Number = 0;
  std::string Text;
};

struct TKey {
  std::string Path;
  std::vector<TValue> Values;
};

using TStore = std::vector<TKey>;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

const TValue* FindValue(const TStore& store, const std::string& key, const std::string& name) {
  for (const TKey& k : store) {
    if (!SameName(k.Path, key)) continue;
    for (const TValue& v : k.Values)
      if (SameName(v.Name, name)) return &v;
  }
  return nullptr;
}

void SetValue(TStore& store, const std::string& key, TValue value) {
  TKey* target = nullptr;
  for (TKey& k : store)
    if (SameName(k.Path, key)) target = &k;
  if (!target) {
    store.push_back(TKey{key, {}});
    target = &store.back();
  }
  for (TValue& v : target->Values) {
    if (SameName(v.Name, value.Name)) {
      value.Name = v.Name;
      v = std::move(value);
      return;
    }
  }
  target->Values.push_back(std::move(value));
}

// ------------------------------------------------------------ text format

const char kHex[] = "0123456789abcdef";

void AppendHexEscape(std::string& out, unsigned char c) {
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

std::string EscapeName(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\\') out += "\\\\";
    else if (IsControl(c) || c == '=' || (i == 0 && (c == '[' || c == ';'))) AppendHexEscape(out, c);
    else out += static_cast<char>(c);
  }
  return out;
}

std::string EscapeText(const std::string& s) {
  std::string out = "\"";
  for (const char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (IsControl(c)) AppendHexEscape(out, c);
    else out += ch;
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Undoes the escapes of s[from, to); false on a malformed escape.
bool Unescape(const std::string& s, size_t from, size_t to, std::string& out) {
  out.clear();
  for (size_t i = from; i < to; ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i >= to) return false;
    if (s[i] == '\\' || s[i] == '"') {
      out += s[i];
    } else if (s[i] == 'x') {
      if (i + 2 >= to) return false;
      const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
      if (hi < 0 || lo < 0) return false;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

// The first and last lines of a store this code writes. A store that starts
// with the first but lacks the last was cut short and is unreadable, so a
// truncated store reads as empty rather than as a mix of values.
const char kStoreHeader[] = "; Tarvelle settings store\n";
const char kStoreTrailer[] = "; end of store\n";

std::string Serialize(const TStore& store) {
  std::string out = kStoreHeader;
  for (const TKey& k : store) {
    out += "\n[" + k.Path + "]\n";
    for (const TValue& v : k.Values) {
      out += EscapeName(v.Name) + "=";
      if (v.Type == TValueType::Number) out += "dword:" + std::to_string(v.Number);
      else out += "sz:" + EscapeText(v.Text);
      out += "\n";
    }
  }
  return out + "\n" + kStoreTrailer;
}

std::optional<TStore> Parse(const std::string& text) {
  // A last line without its line break was cut off.
  if (!text.empty() && text.back() != '\n') return std::nullopt;
  if (text.rfind(kStoreHeader, 0) == 0) {
    const size_t trailer = sizeof kStoreTrailer - 1;
    if (text.size() < trailer || text.compare(text.size() - trailer, trailer, kStoreTrailer) != 0)
      return std::nullopt;
  }
  TStore store;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.size() < 2 || line.back() != ']') return std::nullopt;
      store.push_back(TKey{line.substr(1, line.size() - 2), {}});
      continue;
    }
    if (store.empty()) return std::nullopt;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    TValue v;
    if (!Unescape(line, 0, eq, v.Name) || v.Name.empty()) return std::nullopt;
    const std::string data = line.substr(eq + 1);
    if (data.rfind("dword:", 0) == 0) {
      const char* first = data.data() + 6;
      const char* last = data.data() + data.size();
      int32_t n = 0;
      const auto r = std::from_chars(first, last, n);
      if (first == last || r.ec != std::errc() || r.ptr != last) return std::nullopt;
      v.Type = TValueType::Number;
      v.Number = n;
    } else if (data.rfind("sz:", 0) == 0) {
      if (data.size() < 5 || data[3] != '"' || data.back() != '"') return std::nullopt;
      // The closing quote must not be an escaped one.
      size_t backslashes = 0;
      for (size_t i = data.size() - 1; i > 4 && data[i - 1] == '\\'; --i) ++backslashes;
      if (backslashes % 2) return std::nullopt;
      if (!Unescape(data, 4, data.size() - 1, v.Text)) return std::nullopt;
      v.Type = TValueType::Text;
    } else {
      return std::nullopt;
    }
    store.back().Values.push_back(std::move(v));
  }
  return store;
}

// ------------------------------------------------------------ the file

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // Relative paths in the variable are to be ignored.
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  std::string h = home && home[0] ? home : "";
  if (h.empty())
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) h = pw->pw_dir;
  if (h.empty()) return {};
  return h + "/.config";
}

std::string StoreFolder() {
  const std::string home = ConfigHome();
  return home.empty() ? std::string() : home + "/tarvelle";
}

enum class TReadResult { Missing, Corrupt, Ok };

TReadResult ReadStore(const std::string& file, TStore& store) {
  store.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? TReadResult::Missing : TReadResult::Corrupt;
  std::string text;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return TReadResult::Corrupt;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  std::optional<TStore> parsed = Parse(text);
  if (!parsed) return TReadResult::Corrupt;
  store = std::move(*parsed);
  return TReadResult::Ok;
}

const TValue* ReadOne(const std::string& section, const std::string& name) {
  static thread_local TStore store;
  const std::string folder = StoreFolder();
  if (folder.empty()) return nullptr;
  if (ReadStore(folder + "/registry.ini", store) != TReadResult::Ok) return nullptr;
  return FindValue(store, RegistryKeyPath(section), name);
}

bool MakeFolders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const std::string part = path.substr(0, i);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

class TLock {
 public:
  explicit TLock(const std::string& file) : fd_(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0)
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~TLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Temporary files of writers that died before their rename
// ("registry.ini." and six characters from mkstemp). Writers hold the lock,
// so while it is held no such file belongs to a live writer.
void RemoveStaleTempFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const std::string prefix = "registry.ini.";
  std::vector<std::string> stale;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) stale.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : stale) ::unlink((folder + "/" + name).c_str());
}

void WriteOne(const std::string& section, TValue value) {
  const std::string folder = StoreFolder();
  if (folder.empty() || !MakeFolders(folder)) return;
  const TLock lock(folder + "/registry.lock");
  if (!lock.Held()) return;
  const std::string file = folder + "/registry.ini";
  TStore store;
  if (ReadStore(file, store) == TReadResult::Corrupt) {
    // Keep what was there for inspection, then start afresh.
    const std::string keep = file + ".corrupt";
    ::rename(file.c_str(), keep.c_str());
    store.clear();
  }
  RemoveStaleTempFiles(folder);
  SetValue(store, RegistryKeyPath(section), std::move(value));
  const std::string text = Serialize(store);

  std::string temp = file + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return;  // the store cannot be opened for writing
  const std::string failure = "Cannot write the settings store " + file + ": ";
  if (!WriteAll(fd, text) || ::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    throw TRegistryError(failure + std::strerror(err));
  }
  ::fchmod(fd, 0600);
  if (::close(fd) != 0 || ::rename(temp.c_str(), file.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw TRegistryError(failure + std::strerror(err));
  }
  // Make the rename itself durable.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

}  // namespace

std::string RegistryStoreFile() {
  const std::string folder = StoreFolder();
  return folder.empty() ? std::string() : folder + "/registry.ini";
}

std::string VersionTextOf(const char* version, bool shortForm) {
  if (!version) return "Unknown";
  unsigned parts[4];
  const char* p = version;
  const char* end = version + std::strlen(version);
  for (int i = 0; i < 4; ++i) {
    const auto r = std::from_chars(p, end, parts[i]);
    if (r.ec != std::errc() || r.ptr == p || parts[i] > 65535) return "Unknown";
    p = r.ptr;
    if (i < 3) {
      if (p == end || *p != '.') return "Unknown";
      ++p;
    }
  }
  if (p != end) return "Unknown";
  std::string out = std::to_string(parts[0]) + "." + std::to_string(parts[1]);
  if (!shortForm) out += "." + std::to_string(parts[2]) + "." + std::to_string(parts[3]);
  return out;
}

#ifdef TARVELLE_VERSION
static const char* const kCompiledVersion = TARVELLE_VERSION;
#else
static const char* const kCompiledVersion = nullptr;
#endif

std::string GetVersionText() { return VersionTextOf(kCompiledVersion, false); }
std::string GetShortVersionText() { return VersionTextOf(kCompiledVersion, true); }

std::string RegistryKeyPath(const std::string& section) {
  return "\\Software\\Kelvane\\Tarvelle\\" + GetShortVersionText() + "\\" + section;
}

bool ReadRegBool(const std::string& section, const std::string& name, bool defaultValue) {
  const TValue* v = ReadOne(section, name);
  if (!v || v->Type != TValueType::Number) return defaultValue;
  return v->Number != 0;
}

int32_t ReadRegInteger(const std::string& section, const std::string& name, int32_t defaultValue) {
  const TValue* v = ReadOne(section, name);
  if (!v || v->Type != TValueType::Number) return defaultValue;
  return v->Number;
}

std::string ReadRegString(const std::string& section, const std::string& name, const std::string& defaultValue) {
  const TValue* v = ReadOne(section, name);
  if (!v || v->Type != TValueType::Text) return defaultValue;
  return v->Text;
}

void WriteRegBool(const std::string& section, const std::string& name, bool value) {
  WriteRegInteger(section, name, value ? 1 : 0);
}

void WriteRegInteger(const std::string& section, const std::string& name, int32_t value) {
  TValue v;
  v.Name = name;
  v.Type = TValueType::Number;
  v.Number = value;
  WriteOne(section, std::move(v));
}

void WriteRegString(const std::string& section, const std::string& name, const std::string& value) {
  TValue v;
  v.Name = name;
  v.Type = TValueType::Text;
  v.Text = value;
  WriteOne(section, std::move(v));
}

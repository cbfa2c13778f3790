#include "cli/NameOutput.h"

#include <cstdint>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when the byte there does
// not start one (overlong forms, surrogates and code points past U+10FFFF
// are invalid).
size_t Utf8SequenceLength(const std::string& s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t len;
  uint32_t cp;
  if (c >= 0xc2 && c <= 0xdf) { len = 2; cp = c & 0x1f; }
  else if (c >= 0xe0 && c <= 0xef) { len = 3; cp = c & 0x0f; }
  else if (c >= 0xf0 && c <= 0xf4) { len = 4; cp = c & 0x07; }
  else return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3f);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff))) return 0;
  if (cp >= 0xd800 && cp <= 0xdfff) return 0;
  return len;
}

std::string Hex2(unsigned char c) {
  char buf[3];
  std::snprintf(buf, sizeof buf, "%02x", c);
  return buf;
}

}  // namespace

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const size_t len = Utf8SequenceLength(bytes, i);
    if (len == 0) {
      out += "\\udc" + Hex2(c);
      ++i;
      continue;
    }
    if (len == 1) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
          if (c < 0x20) out += "\\u00" + Hex2(c);
          else out += static_cast<char>(c);
      }
    } else {
      out.append(bytes, i, len);
    }
    i += len;
  }
  return out + "\"";
}

std::string DisplayName(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const size_t len = Utf8SequenceLength(bytes, i);
    if (len == 0 || (len == 1 && (c < 0x20 || c == 0x7f))) {
      out += "\\x" + Hex2(c);
      ++i;
    } else if (c == '\\') {
      out += "\\\\";
      ++i;
    } else {
      out.append(bytes, i, len);
      i += len;
    }
  }
  return out;
}

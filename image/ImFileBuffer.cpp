#include "image/ImFileBuffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "image/ImBitmap.h"

TImFileBuffer::~TImFileBuffer() { Release(); }

bool TImFileBuffer::Create(int64_t size) {
  Release();
  std::string dir = ImTempDirectory;
  if (dir.empty()) {
    const char* t = std::getenv("TMPDIR");
    dir = (t && *t) ? t : "/tmp";
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::string pattern = dir + "/imtmpXXXXXX";
  if (pattern.size() > 250) return false;
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) return false;
  name_ = buf.data();
  fd_ = fd;
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    Release();
    return false;
  }
  size_ = size;
  return true;
}

void TImFileBuffer::WriteBack(TMappedRow& row) {
  if (!(row.Access & 2) || fd_ < 0) return;
  const uint8_t* p = row.Memory.data();
  int64_t left = row.Length, off = row.Offset;
  while (left > 0) {
    ssize_t n = ::pwrite(fd_, p, static_cast<size_t>(left), static_cast<off_t>(off));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a failed write-back is not reported
    left -= n;
    off += n;
    p += n;
  }
}

uint8_t* TImFileBuffer::MapRow(int64_t offset, int64_t len, uint8_t access) {
  if (fd_ < 0 || len <= 0) return nullptr;
  UnmapAll();
  TMappedRow row;
  row.Offset = offset;
  row.Length = len;
  row.Access = access;
  row.Memory.assign(static_cast<size_t>(len), 0);
  if (access & 1) {
    uint8_t* p = row.Memory.data();
    int64_t left = len, off = offset;
    while (left > 0) {
      ssize_t n = ::pread(fd_, p, static_cast<size_t>(left), static_cast<off_t>(off));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // a short read leaves zeros
      left -= n;
      off += n;
      p += n;
    }
  }
  rows_.push_back(std::move(row));
  return rows_.back().Memory.data();
}

void TImFileBuffer::UnmapAll() {
  for (auto& r : rows_) WriteBack(r);
  rows_.clear();
}

void TImFileBuffer::Release() {
  UnmapAll();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!name_.empty()) {
    ::unlink(name_.c_str());
    name_.clear();
  }
  size_ = 0;
}

bool TImFileBuffer::CopyFrom(TImFileBuffer& source, int64_t size) {
  if (fd_ < 0 || source.fd_ < 0) return false;
  UnmapAll();
  source.UnmapAll();
  std::vector<uint8_t> chunk(1048576);
  int64_t off = 0;
  while (off < size) {
    const int64_t want = std::min<int64_t>(static_cast<int64_t>(chunk.size()), size - off);
    ssize_t n = ::pread(source.fd_, chunk.data(), static_cast<size_t>(want), static_cast<off_t>(off));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    int64_t done = 0;
    while (done < n) {
      ssize_t w = ::pwrite(fd_, chunk.data() + done, static_cast<size_t>(n - done), static_cast<off_t>(off + done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
    off += n;
  }
  return true;
}

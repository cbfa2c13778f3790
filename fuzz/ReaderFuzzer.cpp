// One libFuzzer target per reader family. The input is written to a file
// whose extension picks the reader (the loader chooses by extension only) and
// loaded through TImageIO::LoadFromFile, exactly as a scan loads a file.
// TARVELLE_FUZZ_EXTENSIONS names the extensions to load the input as, e.g.
// ".ico,.cur": families with two entry points try both.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/ImageProc.h"
#include "io/ImStream.h"
#include "io/ImageIO.h"
#include "io/MetafilePlayer.h"

#ifndef TARVELLE_FUZZ_EXTENSIONS
#error "TARVELLE_FUZZ_EXTENSIONS must name the extensions to load as"
#endif

namespace {

std::string gFolder;
std::vector<std::string> gFiles;

void RemoveScratch() {
  for (const std::string& f : gFiles) ::unlink(f.c_str());
  if (!gFolder.empty()) ::rmdir(gFolder.c_str());
}

// A private folder for the input files: in memory when /dev/shm exists, so
// that writing each input costs next to nothing.
void MakeScratch() {
  struct stat st {};
  std::string base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "";
  if (base.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp && tmp[0] == '/' ? tmp : "/tmp";
  }
  std::string templ = base + "/tarvelle-fuzz-XXXXXX";
  if (!::mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  gFolder = templ;
  const std::string list = TARVELLE_FUZZ_EXTENSIONS;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    gFiles.push_back(gFolder + "/input" + list.substr(start, end - start));
    start = end + 1;
  }
  std::atexit(RemoveScratch);
}

void WriteInput(const std::string& file, const uint8_t* data, size_t size) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::perror("open");
    std::abort();
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      std::perror("write");
      std::abort();
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The library cap allows 2^30 pixels, gigabytes for one image; the fuzzer
  // runs with a 2 GB memory limit. A smaller cap keeps legitimate large
  // allocations inside it, so that what the fuzzer reports as out of memory
  // is an allocation the cap does not govern (a size field trusted blindly).
  ImMaxPixels = int64_t(1) << 22;
  // Metafile playback stops after this many touched pixels; the default
  // suits real pictures, a smaller one keeps each input quick.
  metafile::ImMetafileMaxDrawn = int64_t(1) << 25;
  MakeScratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const std::string& file : gFiles) {
    WriteInput(file, data, size);
    TImageIO io;
    try {
      io.LoadFromFile(file);
    } catch (const TImOpenError&) {
      // The file was just written: it must open.
      std::abort();
    } catch (const TImMetafileError&) {
      // "Metafile is not valid" is the metafile reader's answer to bad data.
      continue;
    }
    // Any other exception escapes and counts as a finding: readers turn bad
    // data into Aborting, so a std::bad_alloc or std::length_error here means
    // a size taken from the file was trusted.
    // Then what a scan and a view do with the result, also after a failed
    // load (a view shows a partly decoded image): stretch it to a thumbnail
    // and convert that to 24 bits, which reads pixels and palette alike.
    TImBitmap* bmp = io.Bitmap();
    if (bmp && bmp->Width() > 0 && bmp->Height() > 0) {
      TImageProc proc;
      proc.AutoUndo = false;
      proc.SetAttachedBitmap(bmp);
      proc.Resample(64, 64, rfNone);
      bmp->SetPixelFormat(im24bgr);
    }
  }
  return 0;
}

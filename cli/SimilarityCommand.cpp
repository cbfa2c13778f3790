// tarvelle-cli similarity: the similarity of two files' 64 x 64 thumbnails,
// as the scan computes it.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/NameOutput.h"
#include "finder/DFinder.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"

namespace {

const char kUsage[] =
    "usage: tarvelle-cli similarity [--engine reference] A B\n"
    "\n"
    "Prints the similarity of the 64 x 64 thumbnails of two image files with 17\n"
    "significant digits. Identical thumbnails score 0.999755859375; images a\n"
    "scan reads as black and white score 0.\n";

int Fail(const std::string& message, int code) {
  std::fprintf(stderr, "tarvelle-cli similarity: %s\n", message.c_str());
  return code;
}

bool Fingerprint(const std::string& file, TDImage& record) {
  TImBitmap work;
  TImageIO io;
  io.SetAttachedBitmap(&work);
  TImageProc proc;
  proc.AutoUndo = false;
  proc.SetAttachedBitmap(&work);
  TDFinder::FingerprintFile(io, proc, file, record);
  return !record.Unreadable;
}

int RunSimilarity(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--engine") {
      if (i + 1 >= args.size()) return Fail("--engine needs a name", 2);
      if (args[++i] != "reference")
        return Fail("engine '" + DisplayName(args[i]) + "' is not available (available: reference)", 2);
    } else if (a == "--") {
      files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      return Fail("unknown option '" + DisplayName(a) + "'\n" + kUsage, 2);
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return Fail(std::string("needs two files\n") + kUsage, 2);
  TDImage a(0), b(1);
  for (int k = 0; k < 2; ++k)
    if (!Fingerprint(files[k], k ? b : a)) return Fail("cannot read image " + DisplayName(files[k]), 1);
  TImageProc proc;
  proc.SetAttachedBitmap(&a.Bitmap);
  std::printf("%.17g\n", proc.ComputeSimilarity(b.Bitmap));
  return 0;
}

const TCliCommandRegistration kSimilarity({
    "similarity",
    "similarity A B",
    "similarity of two images' 64x64 thumbnails",
    RunSimilarity,
});

}  // namespace

// tarvelle-cli info and decode: load one image file the way the program does
// (reader chosen by extension) and report what the load produced, or write
// the decoded pixels out as a portable pixmap or bitmap.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "image/ImTypes.h"
#include "io/ImageIO.h"

namespace {

const char kInfoUsage[] =
    "usage: tarvelle-cli info FILE\n"
    "\n"
    "Loads FILE, choosing the reader by its extension, and prints what the\n"
    "load reported, one 'Name: value' line each: FileType, Width, Height,\n"
    "BitsPerSample, SamplesPerPixel, DpiX, DpiY, PixelFormat (of the decoded\n"
    "image), HasAlphaChannel and Aborting.\n"
    "\n"
    "Exit status: 0 when the load succeeded, 1 when the reader gave up\n"
    "(Aborting set), 2 when the load raised an error (its message goes to\n"
    "stderr) or the arguments are wrong.\n";

const char kDecodeUsage[] =
    "usage: tarvelle-cli decode FILE OUT\n"
    "\n"
    "Loads FILE, choosing the reader by its extension, and writes the decoded\n"
    "image to OUT: colour images as a binary PPM (P6), black-and-white images\n"
    "as a binary PBM (P4, 1 is black). An alpha channel is written next to it\n"
    "as a binary PGM (P5, 255 opaque) named OUT followed by '.alpha.pgm'.\n"
    "The image is written also when the reader gave up part way; an image\n"
    "that was never decoded is not written.\n"
    "\n"
    "Exit status: 0 when the load succeeded, 1 when the reader gave up\n"
    "(Aborting set), 2 when the load raised an error, OUT could not be\n"
    "written, or the arguments are wrong.\n";

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

// Loads the file; false (after printing the error) when the load raised.
bool LoadImage(TImageIO& io, const std::string& file) {
  try {
    io.LoadFromFile(file);
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvelle-cli: %s\n", e.what());
    return false;
  }
}

int RunInfo(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kInfoUsage, stdout);
    return 0;
  }
  if (args.size() != 1) {
    std::fputs(kInfoUsage, stderr);
    return 2;
  }
  TImageIO io;
  if (!LoadImage(io, args[0])) return 2;
  const TIOParams& p = io.Params();
  TImBitmap& b = *io.Bitmap();
  std::printf("FileType: %d\n", p.FileType);
  std::printf("Width: %d\n", p.Width);
  std::printf("Height: %d\n", p.Height);
  std::printf("BitsPerSample: %d\n", p.BitsPerSample);
  std::printf("SamplesPerPixel: %d\n", p.SamplesPerPixel);
  std::printf("DpiX: %d\n", p.DpiX);
  std::printf("DpiY: %d\n", p.DpiY);
  std::printf("PixelFormat: %s\n", PixelFormatName(b.PixelFormat()));
  std::printf("HasAlphaChannel: %s\n", b.HasAlphaChannel() ? "true" : "false");
  std::printf("Aborting: %s\n", io.Aborting ? "true" : "false");
  return io.Aborting ? 1 : 0;
}

// Writes a binary portable map: header, then rows made by row(y, buffer).
template <typename TRow>
bool WritePortable(const std::string& path, const std::string& header, int height, size_t rowBytes, TRow row) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  std::vector<uint8_t> line(rowBytes);
  for (int y = 0; ok && y < height; ++y) {
    row(y, line.data());
    ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  }
  return std::fclose(f) == 0 && ok;
}

bool WriteImage(TImBitmap& b, const std::string& path) {
  const int w = b.Width(), h = b.Height();
  const std::string size = std::to_string(w) + " " + std::to_string(h) + "\n";
  if (b.PixelFormat() == im1bit) {
    // The buffer's set bits are white; PBM's are black.
    const size_t bytes = static_cast<size_t>((w + 7) / 8);
    return WritePortable(path, "P4\n" + size, h, bytes, [&](int y, uint8_t* out) {
      const uint8_t* in = b.Scanline(y);
      for (size_t k = 0; k < bytes; ++k) out[k] = static_cast<uint8_t>(~in[k]);
      // Bits past the width are padding; keep them clear.
      if (w % 8) out[bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - w % 8));
    });
  }
  if (b.PixelFormat() != im24bgr) b.SetPixelFormat(im24bgr);
  return WritePortable(path, "P6\n" + size + "255\n", h, static_cast<size_t>(w) * 3, [&](int y, uint8_t* out) {
    const uint8_t* in = b.Scanline(y);
    for (int x = 0; x < w; ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  });
}

bool WriteAlpha(TImBitmap& alpha, const std::string& path) {
  const int w = alpha.Width(), h = alpha.Height();
  if (alpha.PixelFormat() != im8gray) alpha.SetPixelFormat(im8gray);
  return WritePortable(path, "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n", h,
                       static_cast<size_t>(w), [&](int y, uint8_t* out) {
                         const uint8_t* in = alpha.Scanline(y);
                         std::copy(in, in + w, out);
                       });
}

int RunDecode(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kDecodeUsage, stdout);
    return 0;
  }
  if (args.size() != 2) {
    std::fputs(kDecodeUsage, stderr);
    return 2;
  }
  TImageIO io;
  if (!LoadImage(io, args[0])) return 2;
  const int status = io.Aborting ? 1 : 0;
  TImBitmap& b = *io.Bitmap();
  if (b.Width() <= 0 || b.Height() <= 0) {
    std::fprintf(stderr, "tarvelle-cli: %s: nothing was decoded\n", args[0].c_str());
    return status == 0 ? 1 : status;
  }
  const std::string& out = args[1];
  if (!WriteImage(b, out)) {
    std::fprintf(stderr, "tarvelle-cli: cannot write %s\n", out.c_str());
    return 2;
  }
  if (b.HasAlphaChannel() && !WriteAlpha(*b.AlphaChannel(), out + ".alpha.pgm")) {
    std::fprintf(stderr, "tarvelle-cli: cannot write %s.alpha.pgm\n", out.c_str());
    return 2;
  }
  return status;
}

const TCliCommandRegistration kInfo({"info", "info FILE", "load an image file and print what the load reported",
                                     RunInfo});
const TCliCommandRegistration kDecode({"decode", "decode FILE OUT",
                                       "load an image file and write its pixels as PPM or PBM", RunDecode});

}  // namespace

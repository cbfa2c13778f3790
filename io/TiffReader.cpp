// TIFF reader: the row decompressor (none, CCITT, LZW, PackBits, predictor,
// sample unpacking) and the page reader.
#include "io/TiffReader.h"

#include <algorithm>
#include <cstring>

#include "io/ImageIO.h"
#include "io/TiffFax.h"
#include "io/TiffLzw.h"

int32_t TiffCompressionCode(int compression, int t4Options) {
  switch (compression) {
    case 1: return 0;
    case 2: return 1;
    case 3: return (t4Options & 1) ? 3 : 2;
    case 4: return 4;
    case 5: return 5;
    case 6: return 6;
    case 7: return 7;
    case 32773: return 8;
    default: return 9;
  }
}

namespace {

// PackBits: a signed count n, then n + 1 literal bytes (n >= 0) or one byte
// repeated 1 - n times (n < 0); -128 is a no-op. A run crossing the row's
// end is consumed whole, its surplus dropped. Bytes past the strip are zero.
void UnpackBits(uint8_t* out, int64_t rowLength, std::span<const uint8_t> strip, int64_t& cursor) {
  const int64_t size = static_cast<int64_t>(strip.size());
  auto byteAt = [&](int64_t i) -> uint8_t { return i >= 0 && i < size ? strip[static_cast<size_t>(i)] : 0; };
  int64_t done = 0;
  while (done < rowLength) {
    if (cursor >= size) {
      std::memset(out + done, 0, static_cast<size_t>(rowLength - done));
      return;
    }
    const int n = static_cast<int8_t>(byteAt(cursor++));
    if (n >= 0) {
      for (int k = 0; k <= n; ++k, ++cursor)
        if (done < rowLength) out[done++] = byteAt(cursor);
    } else if (n != -128) {
      const uint8_t v = byteAt(cursor++);
      for (int k = 0; k < 1 - n; ++k)
        if (done < rowLength) out[done++] = v;
    }
  }
}

// Undoes horizontal differencing: every sample adds the sample one pixel to
// its left, in 8-bit bytes or 16-bit words of the file's byte order.
void UndoPredictor(uint8_t* row, int64_t rowLength, int bits, int samples, bool bigEndian) {
  if (samples < 1) return;
  if (bits == 8) {
    for (int64_t i = samples; i < rowLength; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - samples]);
  } else if (bits == 16) {
    const int64_t words = rowLength / 2;
    auto get = [&](int64_t w) {
      const uint8_t* p = row + 2 * w;
      return static_cast<uint16_t>(bigEndian ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8));
    };
    for (int64_t w = samples; w < words; ++w) {
      const uint16_t v = static_cast<uint16_t>(get(w) + get(w - samples));
      uint8_t* p = row + 2 * w;
      p[bigEndian ? 0 : 1] = static_cast<uint8_t>(v >> 8);
      p[bigEndian ? 1 : 0] = static_cast<uint8_t>(v);
    }
  }
}

}  // namespace

bool DecompressTiffRow(const uint8_t*& row, std::vector<uint8_t>& buffer, std::span<const uint8_t> strip,
                       int64_t& cursor, const TTIFFVars& vars, int width, int64_t rowLength,
                       TTiffLzwState*& lzw, std::vector<uint8_t>& refRow, int64_t& bitPos) {
  if (rowLength <= 0 || width <= 0) return false;
  const int bits = vars.BitsPerSample;
  const int samplesPerPixel = vars.PlanarConfig == 2 ? 1 : std::max(vars.SamplesPerPixel, 1);
  const int64_t samples = static_cast<int64_t>(width) * samplesPerPixel;
  const size_t need = static_cast<size_t>(std::max<int64_t>(2 * rowLength, samples) + 8);
  if (buffer.size() < need) buffer.resize(need, 0);
  if (refRow.size() < static_cast<size_t>(rowLength)) refRow.resize(static_cast<size_t>(rowLength), 0xFF);
  uint8_t* out = buffer.data();
  row = out;
  const int64_t size = static_cast<int64_t>(strip.size());
  const std::span<uint8_t> outRow(out, static_cast<size_t>(rowLength));
  const bool byteAligned = (vars.T4Options & 4) != 0;

  switch (vars.Compression) {
    case 1: {
      const int64_t avail = std::clamp<int64_t>(size - cursor, 0, rowLength);
      if (bits >= 8 && avail == rowLength) {
        row = strip.data() + cursor;
      } else {
        if (avail > 0) std::memcpy(out, strip.data() + cursor, static_cast<size_t>(avail));
        std::memset(out + avail, 0, static_cast<size_t>(rowLength - avail));
      }
      cursor += rowLength;
      break;
    }
    case 2: {
      // Every row starts on a byte of its own.
      const std::span<const uint8_t> data = strip.subspan(static_cast<size_t>(std::clamp<int64_t>(cursor, 0, size)));
      const int64_t used = DecodeFaxRow1D(outRow, data, width, vars.FillOrder, 0);
      cursor += (used + 7) / 8;
      break;
    }
    case 3:
      if (!(vars.T4Options & 1)) {
        bitPos = DecodeFaxRow1D(outRow, strip, width, vars.FillOrder, bitPos);
        break;
      }
      [[fallthrough]];
    case 4:
      bitPos = DecodeFaxRow2D(outRow, strip, byteAligned, vars.FillOrder, bitPos, refRow, width);
      break;
    case 5: {
      if (!vars.LzwDecoder) return false;
      const std::span<const uint8_t> src = strip.subspan(static_cast<size_t>(std::clamp<int64_t>(cursor, 0, size)));
      const uint8_t* decoded = vars.LzwDecoder(&src, rowLength, lzw);
      if (!decoded) return false;
      std::memcpy(out, decoded, static_cast<size_t>(rowLength));
      break;
    }
    case 32773:
      UnpackBits(out, rowLength, strip, cursor);
      break;
    default:
      // No decoder for this compression: the buffer stays as it is.
      break;
  }

  const bool fax = vars.Compression == 2 || vars.Compression == 3 || vars.Compression == 4;
  if (row == out) {
    if (bits == 4) {
      for (int64_t i = rowLength - 1; i >= 0; --i) {
        const uint8_t b = out[i];
        out[2 * i] = static_cast<uint8_t>(b >> 4);
        out[2 * i + 1] = static_cast<uint8_t>(b & 15);
      }
    } else if ((bits == 2 || bits == 3 || bits == 5 || bits == 6 || bits == 7) && !fax) {
      // Samples straight from the bit stream, most significant bit first, one
      // per byte; a sample running past the row length gets zero bits.
      std::vector<uint8_t> packed(out, out + rowLength);
      const int64_t totalBits = rowLength * 8;
      for (int64_t s = 0, pos = 0; s < samples; ++s) {
        unsigned v = 0;
        for (int k = 0; k < bits; ++k, ++pos) {
          v <<= 1;
          if (pos < totalBits) v |= (packed[static_cast<size_t>(pos >> 3)] >> (7 - (pos & 7))) & 1;
        }
        out[s] = static_cast<uint8_t>(v);
      }
    }
    if (vars.Predictor == 2 && vars.Compression == 5)
      UndoPredictor(out, rowLength, bits, samplesPerPixel, vars.BigEndian);
    if (bits == 4 && (vars.Photometric == 0 || vars.Photometric == 1))
      for (int64_t i = 0; i < 2 * rowLength; ++i) out[i] = static_cast<uint8_t>(out[i] << 4);
  }
  return true;
}

void TImageIO::LoadFromFileTiff(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioTIFF;
  RunFormatLoad(fileName, options, [](TImStream&, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    progress.Abort();
  });
}

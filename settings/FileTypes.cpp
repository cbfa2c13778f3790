#include "settings/FileTypes.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

const std::array<TImageFileTypeInfo, kImageFileTypeCount>& ImageFileTypeRows() {
  static const std::array<TImageFileTypeInfo, kImageFileTypeCount> rows{{
      {itJPEG, "itJPEG", "JPEG Bitmap (*.jpg;*.jpeg;*.jpe)", "jpeg", {"*.jpg", "*.jpeg", "*.jpe"}},
      {itGIF, "itGIF", "Compuserve Bitmap (*.gif)", "gif", {"*.gif"}},
      {itPNG, "itPNG", "Portable Network Graphics (*.png)", "png", {"*.png"}},
      {itTIF, "itTIF", "TIFF Bitmap (*.tif;*.tiff;*.fax;*.g3n;*.g3f)", "tiff",
       {"*.tif", "*.tiff", "*.fax", "*.g3n", "*.g3f"}},
      {itJP2, "itJP2", "JPEG2000 Files (*.jp2)", "jp2", {"*.jp2"}},
      {itJ2K, "itJ2K", "JPEG2000 Code Stream (*.j2k;*.jpc;*.j2c)", "j2k", {"*.j2k", "*.jpc", "*.j2c"}},
      {itTGA, "itTGA", "Targa (*.tga;*.targa;*.vda;*.icb;*.vst;*.pix)", "tga",
       {"*.tga", "*.targa", "*.vda", "*.icb", "*.vst", "*.pix"}},
      {itPCX, "itPCX", "Paintbrush (*.pcx)", "pcx", {"*.pcx"}},
      {itBMP, "itBMP", "Windows Bitmap (*.bmp;*.dib;*.rle)", "bmp", {"*.bmp", "*.dib", "*.rle"}},
      {itWMF, "itWMF", "Windows Metafile (*.wmf)", "wmf", {"*.wmf"}},
      {itEMF, "itEMF", "Enhanced Windows Metafile (*.emf)", "emf", {"*.emf"}},
      {itICO, "itICO", "Windows Icon (*.ico)", "ico", {"*.ico"}},
      {itCUR, "itCUR", "Windows Cursor (*.cur)", "cur", {"*.cur"}},
      {itWBMP, "itWBMP", "Wireless Bitmap (*.wbmp)", "wbmp", {"*.wbmp"}},
      {itPXM, "itPXM", "Portable Pixmap (*.pxm;*.ppm)", "pxm", {"*.pxm", "*.ppm"}},
  }};
  return rows;
}

std::vector<std::string> PatternsForFileTypes(TImageFileTypes types) {
  std::vector<std::string> out;
  for (const auto& row : ImageFileTypeRows())
    if (types & (1u << row.Type)) out.insert(out.end(), row.Patterns.begin(), row.Patterns.end());
  return out;
}

bool FindImageFileType(const std::string& name, TImageFileType& type) {
  const std::string want = Lower(name);
  for (const auto& row : ImageFileTypeRows()) {
    bool hit = want == row.ShortName;
    for (const std::string& p : row.Patterns) hit = hit || want == p.substr(2);
    if (hit) {
      type = row.Type;
      return true;
    }
  }
  return false;
}

#include "settings/FileTypes.h"

const std::vector<TFileTypeRow>& FileTypeRows() {
  static const std::vector<TFileTypeRow> rows = {
      {"JPEG Bitmap (*.jpg;*.jpeg;*.jpe)", "jpeg", {"*.jpg", "*.jpeg", "*.jpe"}},
      {"Compuserve Bitmap (*.gif)", "gif", {"*.gif"}},
      {"Portable Network Graphics (*.png)", "png", {"*.png"}},
      {"TIFF Bitmap (*.tif;*.tiff;*.fax;*.g3n;*.g3f)", "tiff", {"*.tif", "*.tiff", "*.fax", "*.g3n", "*.g3f"}},
      {"JPEG2000 Files (*.jp2)", "jp2", {"*.jp2"}},
      {"JPEG2000 Code Stream (*.j2k;*.jpc;*.j2c)", "j2k", {"*.j2k", "*.jpc", "*.j2c"}},
      {"Targa (*.tga;*.targa;*.vda;*.icb;*.vst;*.pix)", "tga", {"*.tga", "*.targa", "*.vda", "*.icb", "*.vst", "*.pix"}},
      {"Paintbrush (*.pcx)", "pcx", {"*.pcx"}},
      {"Windows Bitmap (*.bmp;*.dib;*.rle)", "bmp", {"*.bmp", "*.dib", "*.rle"}},
      {"Windows Metafile (*.wmf)", "wmf", {"*.wmf"}},
      {"Enhanced Windows Metafile (*.emf)", "emf", {"*.emf"}},
      {"Windows Icon (*.ico)", "ico", {"*.ico"}},
      {"Windows Cursor (*.cur)", "cur", {"*.cur"}},
      {"Wireless Bitmap (*.wbmp)", "wbmp", {"*.wbmp"}},
      {"Portable Pixmap (*.pxm;*.ppm)", "pxm", {"*.pxm", "*.ppm"}},
  };
  return rows;
}

std::vector<std::string> FileTypePatterns(uint16_t fileTypes) {
  std::vector<std::string> out;
  const auto& rows = FileTypeRows();
  for (size_t i = 0; i < rows.size(); ++i)
    if (fileTypes & (1u << i)) out.insert(out.end(), rows[i].Patterns.begin(), rows[i].Patterns.end());
  return out;
}

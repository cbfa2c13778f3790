#pragma once
// TImageIO: loads one image file into a TImBitmap, choosing the reader by the
// file name's extension, and describes what it read in a TIOParams.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/ImBitmap.h"
#include "io/ImStream.h"
#include "io/IOParams.h"

class TImAttachedView;

// The open error: "Cannot open file %s".
class TImOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The metafile error: "Metafile is not valid".
class TImMetafileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TIOProgressEvent = std::function<void(void* sender, int percent)>;
using TIONotifyEvent = std::function<void(void* sender)>;

// Handed by a loader to its reader: progress reporting and the stop signal.
struct TLoadProgress {
  const TIOProgressEvent* Event = nullptr;  // may be unassigned
  void* Sender = nullptr;
  int64_t Val = 0;         // units done so far, for readers that count across calls
  double PerUnit = 0;      // 100 / total units, set by the reader
  bool* Aborting = nullptr;

  bool Assigned() const { return Event && *Event; }
  // Reports Trunc(units x PerUnit) when a handler is assigned.
  void Report(int64_t units) const {
    if (Assigned()) (*Event)(Sender, static_cast<int>(static_cast<double>(units) * PerUnit));
  }
  bool IsAborting() const { return Aborting && *Aborting; }
  void Abort() const { if (Aborting) *Aborting = true; }
};

// Library-wide default resolutions, applied when a file gives none.
extern int32_t ImDefaultDpiX;
extern int32_t ImDefaultDpiY;

// One entry of the process-wide format list.
struct TImFileFormatInfo {
  int32_t FileType = 0;
  std::string FullName;
  std::string Extensions;  // upper case, ";"-separated
  bool HasRead = false;
};
const std::vector<TImFileFormatInfo>& FileFormats();
// Looks an extension (without its dot) up in FileFormats, case-insensitively.
const TImFileFormatInfo* FindFileFormat(const std::string& extension);

// Lower-cased extension of a file name, dot included ("" when none).
std::string ImExtractFileExt(const std::string& fileName);

class TImageIO {
 public:
  TImageIO();
  virtual ~TImageIO();
  TImageIO(const TImageIO&) = delete;
  TImageIO& operator=(const TImageIO&) = delete;

  // Loads by extension; the outcome is read from Aborting, Params and the
  // target. Throws TImOpenError when the file cannot be opened.
  virtual void LoadFromFile(const std::string& fileName);

  void LoadFromFileJpeg(const std::string& fileName);
  void LoadFromFilePng(const std::string& fileName);
  void LoadFromFileBmp(const std::string& fileName);
  void LoadFromFileIco(const std::string& fileName);
  void LoadFromFileCur(const std::string& fileName);
  void LoadFromFilePxm(const std::string& fileName);
  void LoadFromFileWbmp(const std::string& fileName);
  void LoadFromFileGif(const std::string& fileName);
  void LoadFromFileTiff(const std::string& fileName);
  void LoadFromFilePcx(const std::string& fileName);
  void LoadFromFileTga(const std::string& fileName);
  void LoadFromFileJp2(const std::string& fileName);
  void LoadFromFileJ2k(const std::string& fileName);
  // Plays a metafile into the target; -1 sizes come from the file.
  void ImportMetafile(const std::string& fileName, int width, int height, bool withAlpha);

  // The view whose buffer loads go into; nullptr gives the component its own buffer.
  void SetAttachedView(TImAttachedView* view);
  TImAttachedView* AttachedView() const { return view_; }
  // Loads into a buffer the caller owns (nullptr returns to an own buffer).
  void SetAttachedBitmap(TImBitmap* bitmap);
  TImBitmap* Bitmap() { return target_; }

  TIOParams& Params() { return params_; }
  TColor Background();
  void SetBackground(TColor c);

  bool Aborting = false;
  bool AutoAdjustDPI = false;
  bool FilteredAdjustDPI = false;
  bool NativePixelFormat() const { return params_.NativePixelFormat; }
  void SetNativePixelFormat(bool v) { params_.NativePixelFormat = v; }
  TIOProgressEvent OnProgress;
  TIONotifyEvent OnFinishWork;

  // Options of the shared per-format load sequence.
  struct TLoadOptions {
    int32_t FileType = 0;
    bool AdjustDpiStep = true;    // step 14 (all but WBMP)
    bool ViewResolution = true;   // step 16 (all but PNM and WBMP)
    bool DefaultDpi = true;       // step 11
  };
  // Reader body: gets the whole file as a bounded stream and may hand back an
  // 8-bit alpha mask for the loader to copy into the alpha channel.
  using TReaderBody = std::function<void(TImStream& stream, TLoadProgress& progress,
                                         std::unique_ptr<TImMask>& alphaMask)>;
  // The shared per-format load sequence: reset, open, read, default dpi,
  // alpha, AdjustDpi, FileName/FileType, view resolution, update, finish.
  void RunFormatLoad(const std::string& fileName, const TLoadOptions& options, const TReaderBody& body);

  // Internal steps, public for the readers that run their own sequence.
  void ApplyDefaultDpi();
  void AdjustDpi();
  void UpdateAttached();
  virtual void DoFinishWork();
  // Reads the whole file; throws TImOpenError when it cannot be opened.
  static std::vector<uint8_t> ReadWholeFile(const std::string& fileName);

 private:
  TImAttachedView* view_ = nullptr;
  TImBitmap* target_ = nullptr;
  std::unique_ptr<TImBitmap> own_;
  TColor ownBackground_ = clBtnFace;
  TIOParams params_;
};

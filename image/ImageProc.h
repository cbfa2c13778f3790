#pragma once
// TImageProc: processing operations on one image buffer, its own or the
// buffer of the view it is attached to.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <deque>

#include "image/ImBitmap.h"

class TImAttachedView;

using TImProgressEvent = std::function<void(void* sender, int percent)>;

class TImageProc {
 public:
  TImageProc();
  ~TImageProc();
  TImageProc(const TImageProc&) = delete;
  TImageProc& operator=(const TImageProc&) = delete;

  // Attaching to a view makes the view's buffer the working buffer; nullptr
  // returns to the processor's own buffer.
  void SetAttachedView(TImAttachedView* view);
  TImAttachedView* AttachedView() const { return view_; }
  // Works on a plain buffer the caller owns (nullptr returns to the own buffer).
  void SetAttachedBitmap(TImBitmap* bitmap);
  // The working buffer.
  TImBitmap* Bitmap();

  TColor Background();
  void SetBackground(TColor c) { background_ = c; }

  // Stretches the working image to the new size (-1 keeps the aspect ratio,
  // 0 keeps that dimension) and tells an attached view to update.
  void Resample(int newWidth, int newHeight, TResampleFilter filter);
  // The internal step of Resample: the working image resampled into dest.
  void ResampleTo(TImBitmap& dest, int newWidth, int newHeight, TResampleFilter filter);

  // Grayscale similarity of the working image with `other`: 1 - (1 + sum of
  // |gray difference| / 255) / pixel count. Only im24bgr images of equal size
  // take part; everything else scores 0.0. diffMap, when given, receives the
  // per-pixel differences (one byte per pixel, at least as large as the image).
  double ComputeSimilarity(TImBitmap& other, TImBitmap* diffMap = nullptr);

  // Undo copies, kept when AutoUndo is set (at most UndoLimit, oldest first out).
  void SaveUndoCaptioned(const std::string& caption);
  int UndoCount() const { return static_cast<int>(undo_.size()); }
  std::string UndoCaption(int i) const { return undo_[i].first; }
  TImBitmap* UndoImage(int i) { return undo_[i].second.get(); }
  void ClearUndo() { undo_.clear(); }

  bool AutoUndo = true;
  int UndoLimit = 1;
  TImProgressEvent OnProgress;

 private:
  void DoProgress(int percent);
  TImAttachedView* view_ = nullptr;
  TImBitmap* external_ = nullptr;
  std::unique_ptr<TImBitmap> own_;
  TColor background_ = clBtnFace;
  std::deque<std::pair<std::string, std::unique_ptr<TImBitmap>>> undo_;
  friend struct TImResampleAccess;
};

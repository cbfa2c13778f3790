#pragma once
// TDFinder: turns a list of image files into groups of similar images.
//
// A run has two phases. Fingerprinting loads every file, records its
// dimensions and size and stretches it to a 64 x 64 thumbnail. Grouping then
// walks the records in index order: every record that is not yet in a group
// heads one, and each later record that is not yet in a group and whose
// thumbnail scores at least threshold / 100 against the head's joins it. The
// grouping is greedy and not transitive: with A~B and B~C but not A~C the
// result is the group A with B, and C alone.
//
// The two phases are separate steps (FingerprintFile, GroupRecords) so that
// another engine can produce the same records by other means and share the
// grouping rule; SimilarityPasses is the one comparison rule.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "finder/DImage.h"

class TImageIO;
class TImageProc;

// Progress callback: sender (the finder), message text, position, maximum.
using TFindProgressEvent =
    std::function<void(void* sender, const std::string& text, int position, int maximum)>;

// Side of a thumbnail.
inline constexpr int kThumbnailSize = 64;

// Size of a file in bytes, following symbolic links; 0 when there is none.
int64_t FileSize(const std::string& fileName);

// The grouping rule: a pair counts as duplicates when threshold / 100 (real
// division) is not greater than the similarity.
inline bool SimilarityPasses(double similarity, int threshold) {
  return !(static_cast<double>(threshold) / 100.0 > similarity);
}

class TDFinder {
 public:
  TDFinder() = default;
  virtual ~TDFinder() = default;
  TDFinder(const TDFinder&) = delete;
  TDFinder& operator=(const TDFinder&) = delete;

  // Runs both phases over fileNames with a threshold in percent. The outcome
  // is left in Images, FileNames and Unreadable. A run stopped through
  // StopRequested keeps what it had built.
  void FindDuplicates(const std::vector<std::string>& fileNames, int threshold);

  // One record per file, in file-list order: Images[k]->Index == k.
  std::vector<std::unique_ptr<TDImage>> Images;
  // Copy of the file names of the last run.
  std::vector<std::string> FileNames;
  // Indices of the records whose file could not be opened or decoded, in
  // index order.
  std::vector<int32_t> Unreadable;
  TFindProgressEvent OnFindProgress;
  // Set from outside (normally by the progress callback) to end a run at its
  // next stop point; clear at the start and the end of every run.
  bool StopRequested = false;
  // The last run was ended early by a stop request.
  bool Stopped = false;
  // Makes the loader that reads the files; a plain TImageIO when empty.
  std::function<std::unique_ptr<TImageIO>()> LoaderFactory;

  // Fingerprinting step: loads fileName through io into its target (the
  // bitmap proc also works on) and fills the record: dimensions as read, file
  // size, and the working image stretched to 64 x 64 with no filter, in the
  // pixel format the reader produced. A file that cannot be opened, raises an
  // error while it is read or leaves io's Aborting set gets dimensions 0 x 0,
  // an empty thumbnail and Unreadable set. Never throws for a bad file.
  static void FingerprintFile(TImageIO& io, TImageProc& proc, const std::string& fileName,
                              TDImage& record);

 protected:
  // Grouping step over all of Images. work is a scratch bitmap that proc is
  // attached to; it receives each head's thumbnail. Returns false when a stop
  // request ended it.
  virtual bool GroupRecords(TImageProc& proc, TImBitmap& work, int threshold);
  void Progress(const std::string& text, int position, int maximum);
  // Tests and clears StopRequested.
  bool TakeStopRequest();
};

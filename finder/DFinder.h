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
//
// Two engines produce the records and groups: the reference engine does
// exactly the steps above, one file and one pair after the other; the fast
// engine decodes on all cores and compares gray thumbnails by their integer
// difference sums with lower bounds that rule out most pairs unseen. Both
// give the same records, groups, similarities, progress reports and stop
// behaviour.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "finder/DImage.h"

class TImageIO;
class TImageProc;
class TWorkerPool;

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

enum class TFinderEngine { Reference, Fast };

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
  // Makes the loader that reads the files; a plain TImageIO when empty. The
  // fast engine makes one loader per thread, so the loaders it makes must
  // not share state that a load changes.
  std::function<std::unique_ptr<TImageIO>()> LoaderFactory;
  TFinderEngine Engine = TFinderEngine::Fast;
  // Threads of the fast engine; 0 uses every core.
  int Threads = 0;

  // Figures of the last run: seconds spent in each phase and the number of
  // pairs whose thumbnails were compared pixel by pixel.
  double FingerprintSeconds = 0.0;
  double CompareSeconds = 0.0;
  int64_t FullComparisons = 0;

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
  // The fast engine's grouping step: the same groups and similarities as
  // GroupRecords, the same progress calls and stop points.
  bool GroupRecordsFast(TWorkerPool& pool, int threshold);
  // The fast engine's fingerprinting step: the records of FingerprintFile,
  // made on several threads ahead of the progress loop, which hands them
  // over in index order. Returns false when a stop request ended it.
  bool FingerprintFast(int threads);
  // Progress texts of the two phases for position i (0-based) of n.
  static std::string FingerprintText(const std::string& fileName, int i, int n);
  static std::string CompareText(int i, int n);
  void Progress(const std::string& text, int position, int maximum);
  // Tests and clears StopRequested.
  bool TakeStopRequest();
};

#pragma once
// TWorkerPool: a fixed set of threads that run the tasks of one batch at a
// time. The calling thread takes part in every batch, so a pool of one
// thread runs everything on the caller.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TWorkerPool {
 public:
  // threads <= 0 uses every core the system reports.
  explicit TWorkerPool(int threads);
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  // Threads taking part in a batch, the caller included.
  int Size() const { return static_cast<int>(threads_.size()) + 1; }

  // Runs task(k, worker) for k in 0 .. count - 1, spread over the pool, and
  // returns when all have run. worker lies in 0 .. Size() - 1 and is unique
  // among the tasks running at one moment, so it can pick per-thread scratch
  // space. The tasks must not throw.
  void Run(int count, const std::function<void(int task, int worker)>& task);

  // Number of cores the system reports, at least 1.
  static int CoreCount();

 private:
  void WorkerLoop(int worker);
  void Drain(int worker);

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(int, int)>* task_ = nullptr;
  int count_ = 0;
  std::atomic<int> next_{0};
  int busy_ = 0;          // workers still inside the current batch
  unsigned batch_ = 0;    // batch number, so that a worker joins each batch once
  bool quit_ = false;
};

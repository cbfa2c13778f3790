#include "finder/WorkerPool.h"

int TWorkerPool::CoreCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

TWorkerPool::TWorkerPool(int threads) {
  if (threads <= 0) threads = CoreCount();
  for (int w = 1; w < threads; ++w) threads_.emplace_back([this, w] { WorkerLoop(w); });
}

TWorkerPool::~TWorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void TWorkerPool::Drain(int worker) {
  for (;;) {
    const int k = next_.fetch_add(1, std::memory_order_relaxed);
    if (k >= count_) return;
    (*task_)(k, worker);
  }
}

void TWorkerPool::WorkerLoop(int worker) {
  unsigned seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return quit_ || batch_ != seen; });
    if (quit_) return;
    seen = batch_;
    lock.unlock();
    Drain(worker);
    lock.lock();
    if (--busy_ == 0) done_.notify_one();
  }
}

void TWorkerPool::Run(int count, const std::function<void(int, int)>& task) {
  if (count <= 0) return;
  if (threads_.empty() || count == 1) {
    for (int k = 0; k < count; ++k) task(k, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    busy_ = static_cast<int>(threads_.size());
    ++batch_;
  }
  wake_.notify_all();
  Drain(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return busy_ == 0; });
  task_ = nullptr;
}

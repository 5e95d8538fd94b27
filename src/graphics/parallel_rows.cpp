#include "graphics/parallel_rows.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "graphics/planes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TALVEN_PAUSE() _mm_pause()
#else
#define TALVEN_PAUSE() ((void)0)
#endif

// Rows are handed out in contiguous chunks from a counter that the calling thread and the
// workers share. The caller takes chunks too and waits only for chunks a worker has actually
// taken, never for a worker to be scheduled: on a busy machine, where a worker may not run for
// milliseconds, a fork-join region would stall every blit until it did, while here the caller
// simply does the rows itself. The workers live for the whole process.

namespace talven::graphics {
namespace {

class RowPool {
 public:
  explicit RowPool(int workers) {
    for (int i = 0; i < workers; ++i) std::thread([this] { work(); }).detach();
    workers_ = workers;
  }

  int threads() const { return workers_ + 1; }

  // False when another caller is using the pool (the rows then run on the calling thread).
  bool run(RowFunction row, const void* job, int rows, int chunk_rows) {
    std::unique_lock<std::mutex> caller(caller_mutex_, std::try_to_lock);
    if (!caller.owns_lock()) return false;
    const int chunks = (rows + chunk_rows - 1) / chunk_rows;
    std::uint64_t generation;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      generation = ++generation_;
      row_ = row;
      job_ = job;
      rows_ = rows;
      chunk_rows_ = chunk_rows;
      chunks_ = chunks;
      done_.store(0, std::memory_order_relaxed);
      next_.store(generation << 32, std::memory_order_release);
    }
    wake_.notify_all();
    int finished = take_chunks(generation, row, job, rows, chunk_rows, chunks);
    if (finished != rows) {
      for (int spin = 0; done_.load(std::memory_order_acquire) + finished != rows; ++spin) {
        if (spin < 4096) {
          TALVEN_PAUSE();
        } else {
          std::this_thread::yield();
        }
      }
    }
    return true;
  }

 private:
  // Claims chunks of `generation` until none is left; returns the number of rows done.
  int take_chunks(std::uint64_t generation, RowFunction row, const void* job, int rows, int chunk_rows, int chunks) {
    int done = 0;
    std::uint64_t state = next_.load(std::memory_order_acquire);
    for (;;) {
      if ((state >> 32) != generation || static_cast<int>(state & 0xFFFFFFFFu) >= chunks) break;
      if (!next_.compare_exchange_weak(state, state + 1, std::memory_order_acq_rel, std::memory_order_acquire)) continue;
      const int first = static_cast<int>(state & 0xFFFFFFFFu) * chunk_rows;
      const int last = std::min(rows, first + chunk_rows);
      for (int y = first; y < last; ++y) row(job, y);
      done += last - first;
      state = next_.load(std::memory_order_acquire);
    }
    return done;
  }

  [[noreturn]] void work() {
    std::uint64_t seen = 0;
    for (;;) {
      RowFunction row;
      const void* job;
      int rows, chunk_rows, chunks;
      std::uint64_t generation;
      {
        // A short spin first: blits usually come in bursts, and a sleeping worker takes a
        // while to wake.
        for (int spin = 0; spin < 2048 && (next_.load(std::memory_order_acquire) >> 32) == seen; ++spin) TALVEN_PAUSE();
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return generation_ != seen; });
        generation = seen = generation_;
        row = row_;
        job = job_;
        rows = rows_;
        chunk_rows = chunk_rows_;
        chunks = chunks_;
      }
      const int done = take_chunks(generation, row, job, rows, chunk_rows, chunks);
      if (done > 0) done_.fetch_add(done, std::memory_order_acq_rel);
    }
  }

  int workers_ = 0;
  std::mutex caller_mutex_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t generation_ = 0;
  RowFunction row_ = nullptr;
  const void* job_ = nullptr;
  int rows_ = 0, chunk_rows_ = 1, chunks_ = 0;
  // The generation in the upper half, the next chunk to take in the lower half: a worker that
  // arrives after its generation has ended cannot take a chunk of the next one.
  alignas(64) std::atomic<std::uint64_t> next_{0};
  alignas(64) std::atomic<int> done_{0};
};

RowPool* pool() {
  // Never destroyed: the workers block on it until the process ends.
  static RowPool* const instance = [] {
    const unsigned processors = std::thread::hardware_concurrency();
    return processors > 1 ? new RowPool(static_cast<int>(std::min(processors, 64u)) - 1) : nullptr;
  }();
  return instance;
}

}  // namespace

void run_rows(RowFunction row, const void* job, int rows, long long pixels) {
  if (rows > 1 && pixels >= 16384 && multi_threading()) {
    if (RowPool* p = pool()) {
      // A few chunks per thread, so that a thread that starts late leaves its share to the others.
      const int chunk_rows = std::max(1, rows / (4 * p->threads()));
      if (p->run(row, job, rows, chunk_rows)) return;
    }
  }
  for (int y = 0; y < rows; ++y) row(job, y);
}

}  // namespace talven::graphics

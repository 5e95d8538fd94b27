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

// Each thread owns one contiguous block of rows (the same block at every call, so a thread
// keeps meeting the rows it last had in its cache) and takes it chunk by chunk from the front;
// a thread that has finished its block takes chunks from the back of the others. The calling
// thread waits only for chunks that a worker has actually taken, never for a worker to be
// scheduled: on a busy machine, where a worker may not run for milliseconds, a fork-join region
// would stall every blit until it did, while here the caller simply does those rows itself. The
// workers live for the whole process.

namespace talven::graphics {
namespace {

constexpr int kChunksPerBlock = 8;
constexpr int kMaxThreads = 64;

class RowPool {
 public:
  explicit RowPool(int workers) : workers_(workers) {
    for (int i = 0; i < workers; ++i) std::thread([this, i] { work(i + 1); }).detach();
  }

  int threads() const { return workers_ + 1; }

  // False when another caller is using the pool (the rows then run on the calling thread).
  bool run(RowFunction row, const void* job, int rows) {
    std::unique_lock<std::mutex> caller(caller_mutex_, std::try_to_lock);
    if (!caller.owns_lock()) return false;
    Work w;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const int threads = workers_ + 1;
      w.generation = ++generation_;
      w.row = row;
      w.job = job;
      w.rows = rows;
      w.threads = threads;
      w.chunks = std::min(rows, threads * kChunksPerBlock);
      current_ = w;
      done_.store(0, std::memory_order_relaxed);
      for (int b = 0; b < threads; ++b) {
        const std::uint64_t front = std::uint64_t(b) * w.chunks / threads, back = std::uint64_t(b + 1) * w.chunks / threads;
        blocks_[b].state.store(w.generation << 32 | front << 16 | back, std::memory_order_release);
      }
      published_.store(w.generation, std::memory_order_release);
    }
    wake_.notify_all();
    const int finished = take_chunks(w, 0);
    for (int spin = 0; done_.load(std::memory_order_acquire) + finished != rows; ++spin) {
      if (spin < 4096) {
        TALVEN_PAUSE();
      } else {
        std::this_thread::yield();
      }
    }
    return true;
  }

 private:
  struct Work {
    std::uint64_t generation = 0;
    RowFunction row = nullptr;
    const void* job = nullptr;
    int rows = 0, threads = 1, chunks = 0;
  };

  // A block's state: the generation in the upper half, then the first and the end chunk left.
  struct alignas(64) Block {
    std::atomic<std::uint64_t> state{0};
  };

  // Takes one chunk of block b (from its front or its back); -1 when none is left.
  int take(const Work& w, int b, bool front) {
    std::uint64_t s = blocks_[b].state.load(std::memory_order_acquire);
    for (;;) {
      const std::uint64_t first = (s >> 16) & 0xFFFF, end = s & 0xFFFF;
      if ((s >> 32) != w.generation || first >= end) return -1;
      const std::uint64_t next = front ? s + (1u << 16) : s - 1;
      if (blocks_[b].state.compare_exchange_weak(s, next, std::memory_order_acq_rel, std::memory_order_acquire))
        return static_cast<int>(front ? first : end - 1);
    }
  }

  // Runs the chunks of thread `self`'s block, then helps with the others; returns the rows done.
  int take_chunks(const Work& w, int self) {
    int done = 0;
    for (int k = 0; k < w.threads; ++k) {
      const int b = (self + k) % w.threads;
      for (int c; (c = take(w, b, k == 0)) >= 0;) {
        const int first = static_cast<int>(std::int64_t(c) * w.rows / w.chunks);
        const int last = static_cast<int>(std::int64_t(c + 1) * w.rows / w.chunks);
        for (int y = first; y < last; ++y) w.row(w.job, y);
        done += last - first;
      }
    }
    return done;
  }

  [[noreturn]] void work(int self) {
    std::uint64_t seen = 0;
    for (;;) {
      Work w;
      {
        // A short spin first: blits usually come in bursts, and a sleeping worker takes a
        // while to wake.
        for (int spin = 0; spin < 2048 && published_.load(std::memory_order_acquire) == seen; ++spin) TALVEN_PAUSE();
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return generation_ != seen; });
        w = current_;
        seen = w.generation;
      }
      if (self >= w.threads) continue;
      const int done = take_chunks(w, self);
      if (done > 0) done_.fetch_add(done, std::memory_order_acq_rel);
    }
  }

  const int workers_;
  std::mutex caller_mutex_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t generation_ = 0;
  Work current_;
  alignas(64) std::atomic<std::uint64_t> published_{0};
  alignas(64) std::atomic<int> done_{0};
  Block blocks_[kMaxThreads];
};

RowPool* pool() {
  // Never destroyed: the workers block on it until the process ends.
  static RowPool* const instance = [] {
    const unsigned processors = std::thread::hardware_concurrency();
    return processors > 1 ? new RowPool(static_cast<int>(std::min<unsigned>(processors, kMaxThreads)) - 1) : nullptr;
  }();
  return instance;
}

}  // namespace

void run_rows(RowFunction row, const void* job, int rows, long long pixels) {
  if (rows > 1 && pixels >= 16384 && multi_threading()) {
    if (RowPool* p = pool()) {
      if (p->run(row, job, rows)) return;
    }
  }
  for (int y = 0; y < rows; ++y) row(job, y);
}

}  // namespace talven::graphics

// A small pool of worker threads for the encoder's and decoder's independent pieces of work
// (blocks, records, subbands). Results come back through futures, so a caller that takes them
// in order writes the same bytes whatever the number of threads.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// Cores this process may run on (its affinity mask), at least 1.
int available_cores();

// The value of a -threads option: a whole number from 1 to kMaxThreads, else Error "Error:
// -threads takes a number of threads from 1 to 1024.".
inline constexpr int kMaxThreads = 1024;
int parse_thread_count(const char* text);

// The thread count an option asks for: `requested` when positive, else every available core.
int thread_count(int requested);

class ThreadPool {
 public:
  // `threads` workers; with fewer than 2 there are none and every task runs at once in
  // submit(), so one thread behaves exactly like the code without a pool.
  explicit ThreadPool(int threads);
  // Runs the tasks still queued, then joins the workers.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Workers (0 when tasks run inline).
  int workers() const { return int(workers_.size()); }

  // Queues `task`; its result or exception arrives through the future.
  template <class F>
  auto submit(F task) -> std::future<decltype(task())> {
    using Result = decltype(task());
    auto packaged = std::make_shared<std::packaged_task<Result()>>(std::move(task));
    std::future<Result> result = packaged->get_future();
    if (workers_.empty()) {
      (*packaged)();
    } else {
      enqueue([packaged] { (*packaged)(); });
    }
    return result;
  }

 private:
  void enqueue(std::function<void()> task);
  void work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// Futures taken strictly in the order they were added, at most `depth` of them outstanding:
// add() waits for (and hands to `take`) the oldest once the window is full. The destructor
// waits for every task still running, so nothing they refer to goes away under them, also
// when the caller leaves by an exception.
template <class T>
class OrderedResults {
 public:
  explicit OrderedResults(size_t depth) : depth_(depth < 1 ? 1 : depth) {}
  ~OrderedResults() {
    for (std::future<T>& f : pending_)
      if (f.valid()) f.wait();
  }
  bool full() const { return pending_.size() >= depth_; }
  bool empty() const { return pending_.empty(); }
  void add(std::future<T> f) { pending_.push_back(std::move(f)); }
  // The oldest result (rethrows its task's exception).
  T take() {
    std::future<T> f = std::move(pending_.front());
    pending_.pop_front();
    return f.get();
  }

 private:
  size_t depth_;
  std::deque<std::future<T>> pending_;
};

}  // namespace platform

#include "platform/thread_pool.h"

#include <sched.h>

#include <cstdlib>

#include "platform/error.h"

namespace platform {

int available_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? int(n) : 1;
}

int parse_thread_count(const char* text) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 1 || n > kMaxThreads)
    throw Error(format_message("Error: -threads takes a number of threads from 1 to %d.",
                               kMaxThreads));
  return int(n);
}

int thread_count(int requested) { return requested > 0 ? requested : available_cores(); }

ThreadPool::ThreadPool(int threads) {
  if (threads < 2) return;
  workers_.reserve(size_t(threads));
  try {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
  } catch (...) {
    // No thread to spare: run with those that started (none means inline).
    if (workers_.empty()) return;
  }
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void ThreadPool::enqueue(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void ThreadPool::work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();  // a packaged task: its exceptions go to its future
  }
}

}  // namespace platform

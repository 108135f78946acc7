#include "copy/work_queue.h"

#include <algorithm>
#include <csignal>
#include <exception>

#include <pthread.h>

namespace tarnwell {

WorkQueue::WorkQueue(size_t workers, size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {
  if (workers == 0) return;
  // The workers inherit the mask in force when they start.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  // A thread the system refuses (a limit of processes, or of memory for
  // its stack) leaves fewer workers; with none, the giver runs every job.
  try {
    for (size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
  } catch (const std::exception&) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

WorkQueue::~WorkQueue() {
  drain();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    closing_ = true;
  }
  available_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void WorkQueue::give(std::function<void()> job) {
  if (workers_.empty()) {
    job();
    return;
  }
  std::unique_lock<std::mutex> hold(mutex_);
  room_.wait(hold, [this] { return jobs_.size() < capacity_; });
  jobs_.push_back(std::move(job));
  hold.unlock();
  available_.notify_one();
}

void WorkQueue::giveFirst(std::function<void()> job) {
  if (workers_.empty()) {
    job();
    return;
  }
  {
    std::lock_guard<std::mutex> hold(mutex_);
    jobs_.push_front(std::move(job));
  }
  available_.notify_one();
}

void WorkQueue::drain() {
  std::unique_lock<std::mutex> hold(mutex_);
  room_.wait(hold, [this] { return jobs_.empty() && running_ == 0; });
}

void WorkQueue::work() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    available_.wait(hold, [this] { return closing_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    ++running_;
    hold.unlock();
    room_.notify_one();
    job();
    job = nullptr;  // what it held goes before the queue counts it done
    hold.lock();
    --running_;
    // The giver waits for room or for the end; it is the only one waiting.
    room_.notify_one();
  }
}

size_t WorkQueue::defaultWorkers() {
  size_t cores = std::thread::hardware_concurrency();
  return cores <= 1 ? 0 : std::min<size_t>(cores, 4);
}

}  // namespace tarnwell

#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnwell {

// A few worker threads taking jobs in the order they were given. The queue
// is bounded, so that whatever a job holds (descriptors of its folders)
// stays bounded too: giving a job waits while it is full. Without workers
// every job runs in the caller, at once. Workers block every signal, so
// that a stop signal reaches the thread that waits on children and locks.
class WorkQueue {
 public:
  WorkQueue(size_t workers, size_t capacity);
  ~WorkQueue();  // waits for the jobs given, then for the workers
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  void give(std::function<void()> job);
  // From a worker: a job to run next, whatever the bound (it is split off
  // a job already counted). Without workers it runs at once.
  void giveFirst(std::function<void()> job);
  // Waits until every job given so far has run.
  void drain();
  // The workers that started: fewer than asked for when the system refused threads.
  size_t workers() const { return workers_.size(); }

  // One worker a core, at most four; none on one core.
  static size_t defaultWorkers();

 private:
  void work();

  size_t capacity_;
  std::mutex mutex_;
  std::condition_variable available_;  // a job, or the end: for the workers
  std::condition_variable room_;       // room in the queue, or all done: for the giver
  std::deque<std::function<void()>> jobs_;
  size_t running_ = 0;
  bool closing_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace tarnwell

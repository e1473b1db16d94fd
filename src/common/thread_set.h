#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace brisk {

// The worker threads of one Peer. Each started thread is joined by the set: finished ones
// whenever a new one starts, the rest in joinAll(), so no thread outlives what it uses.
class ThreadSet {
 public:
  ThreadSet() = default;
  ~ThreadSet() { joinAll(); }
  ThreadSet(const ThreadSet&) = delete;
  ThreadSet& operator=(const ThreadSet&) = delete;

  // Runs `work` on a new thread.
  void start(std::function<void()> work);
  // Waits for every thread, including ones started meanwhile by the threads themselves.
  // Must not be called from one of the set's threads.
  void joinAll();

 private:
  struct Worker {
    std::thread thread;
    bool finished = false;
  };
  void reapFinished();  // with mutex_ held

  std::mutex mutex_;
  std::list<Worker> workers_;
};

}  // namespace brisk

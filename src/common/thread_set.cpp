#include "common/thread_set.h"

#include <vector>

namespace brisk {

void ThreadSet::start(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  reapFinished();
  workers_.emplace_back();
  Worker& worker = workers_.back();
  // std::list keeps `worker` in place while other workers come and go.
  worker.thread = std::thread([this, &worker, work = std::move(work)] {
    work();
    std::lock_guard done(mutex_);
    worker.finished = true;
  });
}

void ThreadSet::reapFinished() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->finished) {
      it->thread.join();  // it has set its flag and only returns now
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void ThreadSet::joinAll() {
  for (;;) {
    std::list<Worker> taken;
    {
      std::lock_guard lock(mutex_);
      if (workers_.empty()) return;
      // Keep the nodes alive (splice moves no element) while joining without the lock.
      taken.splice(taken.end(), workers_);
    }
    for (Worker& worker : taken) worker.thread.join();
  }
}

}  // namespace brisk

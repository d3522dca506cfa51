#include "channel/worker_threads.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace snapferry {
namespace {

class WorkerThreads {
 public:
  void Start(std::function<void()> body) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!joiner_started_) {
      // The joiner never ends, so its own record is never handed back.
      std::thread(&WorkerThreads::JoinEnded, this).detach();
      joiner_started_ = true;
    }
    const uint64_t number = ++last_number_;
    // The entry first: once the thread runs, nothing may fail before it is
    // held (a std::thread destroyed unjoined ends the process).
    auto entry = workers_.emplace(number, Worker()).first;
    try {
      // Under the lock: the worker reports its end by taking it, so it is
      // in the map by then.
      entry->second.thread =
          std::thread([this, number, body = std::move(body)]() mutable {
            body();
            body = nullptr;
            Ended(number);
          });
    } catch (...) {
      workers_.erase(entry);
      throw;
    }
  }

  size_t Unjoined() {
    std::lock_guard<std::mutex> lock(mutex_);
    return workers_.size();
  }

 private:
  struct Worker {
    std::thread thread;
    bool ended = false;
  };

  // The worker's last step; allocates nothing, so it cannot throw.
  void Ended(uint64_t number) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.find(number)->second.ended = true;  // present: see Start
      ++ended_;
    }
    ended_changed_.notify_one();
  }

  // The joiner's body: takes the ended workers out one at a time and joins
  // them unlocked. A join waits only for the rest of the thread's ending.
  void JoinEnded() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ended_changed_.wait(lock, [this] { return ended_ > 0; });
      auto found = workers_.begin();
      while (!found->second.ended) ++found;
      std::thread thread = std::move(found->second.thread);
      workers_.erase(found);
      --ended_;
      lock.unlock();
      thread.join();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable ended_changed_;
  std::map<uint64_t, Worker> workers_;  // mutex_
  uint64_t last_number_ = 0;            // mutex_
  size_t ended_ = 0;                    // mutex_: ended, not yet taken
  bool joiner_started_ = false;         // mutex_
};

WorkerThreads& Workers() {
  // Never destroyed: workers may still run when the process ends.
  static WorkerThreads* workers = new WorkerThreads();
  return *workers;
}

}  // namespace

void StartWorkerThread(std::function<void()> body) {
  Workers().Start(std::move(body));
}

size_t UnjoinedWorkerThreads() { return Workers().Unjoined(); }

}  // namespace snapferry

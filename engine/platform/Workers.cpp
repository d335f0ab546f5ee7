#include "engine/platform/Workers.h"

#include <algorithm>

namespace kilnor {

TWorkerRegistry::~TWorkerRegistry() { StopAndJoinAll(); }

void TWorkerRegistry::Start(std::function<void(std::stop_token)> Body) {
  std::lock_guard guard(lock_);
  JoinEnded();
  auto worker = std::make_unique<TWorker>();
  TWorker& self = *worker;
  // The registry owns the thread; the thread only touches its own Ended flag.
  worker->Thread = std::jthread([&self, body = std::move(Body)](std::stop_token stop) {
    body(stop);
    self.Ended.store(true);
  });
  workers_.push_back(std::move(worker));
}

void TWorkerRegistry::StopAndJoinAll() {
  // A worker may start the next one (the cache thread hands over to the write
  // thread), so repeat until no worker is left.
  for (;;) {
    std::list<std::unique_ptr<TWorker>> all;
    {
      std::lock_guard guard(lock_);
      all.swap(workers_);
    }
    if (all.empty()) return;
    for (auto& worker : all) worker->Thread.request_stop();
    for (auto& worker : all) worker->Thread.join();
  }
}

std::size_t TWorkerRegistry::Running() const {
  std::lock_guard guard(lock_);
  return static_cast<std::size_t>(std::count_if(
      workers_.begin(), workers_.end(), [](const auto& worker) { return !worker->Ended.load(); }));
}

void TWorkerRegistry::JoinEnded() {
  std::erase_if(workers_, [](const auto& worker) {
    if (!worker->Ended.load()) return false;
    worker->Thread.join();
    return true;
  });
}

}  // namespace kilnor

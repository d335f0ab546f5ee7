#pragma once
// The worker threads one component owns. A long operation (burn, image build,
// erase, verify, smart references) runs its body on a thread started here;
// the body ends by itself after reporting its completion, and the component's
// destructor raises the abort flag and then joins every worker that is still
// running, so no worker outlives the records it works on.
//
// Start routines take the registry by reference: Workers.Start(...).
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace kilnor {

class TWorkerRegistry {
 public:
  TWorkerRegistry() = default;
  ~TWorkerRegistry();
  TWorkerRegistry(const TWorkerRegistry&) = delete;
  TWorkerRegistry& operator=(const TWorkerRegistry&) = delete;

  // Runs Body on a new thread owned by the registry. Body should poll its
  // operation's abort flag; the stop token is requested as well at shutdown.
  // Workers that have ended are joined and forgotten here.
  void Start(std::function<void(std::stop_token)> Body);

  // Requests stop on every worker and joins them all; the caller raises its
  // operation abort flag first. Must not be called from a worker.
  void StopAndJoinAll();

  // Workers started and not yet ended.
  [[nodiscard]] std::size_t Running() const;

 private:
  struct TWorker {
    std::atomic<bool> Ended{false};
    std::jthread Thread;
  };
  void JoinEnded();  // lock_ held

  mutable std::mutex lock_;
  std::list<std::unique_ptr<TWorker>> workers_;
};

}  // namespace kilnor

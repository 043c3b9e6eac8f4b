#pragma once

// The threads that run the server's searches, shared by every client, and a bounded queue in
// front of them that is fair between clients. Each client has a queue of its own and runs at
// most `running_per_client` jobs at once; the threads take the next job from the clients in
// turn (round robin), passing over those at that cap. So a client asking one rare query
// waits behind at most one job of each other client, however many a client asking common
// words keeps queued; and with more threads than clients at work it starts at once, the
// system sharing the processors between the searches that run. A client may have at most
// `per_client` jobs waiting and running, and all clients together `queue_limit` waiting:
// beyond, Submit refuses (the server answers 503 then), so the queue never grows without
// bound.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace kb::server {

struct FairPoolLimits {
  std::size_t threads = 1;
  std::size_t queue_limit = 64;        // jobs waiting, of all clients
  std::size_t per_client = 4;          // jobs waiting and running, of one client
  std::size_t running_per_client = 1;  // jobs running, of one client
};

class FairPool {
 public:
  // A job is given a token that is stopped once the pool stops: it then ends early.
  using Job = std::function<void(std::stop_token)>;

  explicit FairPool(FairPoolLimits limits);
  // Stops, as Stop does.
  ~FairPool();
  FairPool(const FairPool&) = delete;
  FairPool& operator=(const FairPool&) = delete;

  // Queues `job` for `client`; false, and the job dropped, when the queue or the client's
  // share is full, or the pool is stopping.
  bool Submit(const std::string& client, Job job);

  // Stops: from now on Submit refuses; the jobs still waiting run at once with their token
  // stopped, so each still gives its answer; then the threads end.
  void Stop();

 private:
  struct Client {
    std::deque<Job> waiting;
    std::size_t running = 0;
  };

  // The next client in turn that may run one more job, or turns_.end().
  std::list<std::string>::iterator NextTurn();
  void Work(std::stop_token stop);

  const FairPoolLimits limits_;
  std::mutex mutex_;
  std::condition_variable_any ready_;
  std::map<std::string, Client> clients_;
  std::list<std::string> turns_;  // the clients with jobs waiting, the next one first
  std::size_t waiting_ = 0;
  std::stop_source stopping_;
  std::vector<std::jthread> threads_;  // last: joined first
};

}  // namespace kb::server

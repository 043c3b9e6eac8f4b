#pragma once

// The threads that run the server's searches, shared by every client, and a bounded queue in
// front of them that is fair between clients: each client has a queue of its own, and the
// threads take the next job from the clients in turn (round robin), so a client asking one
// rare query waits behind at most one job of each other client, however many jobs a client
// asking common words keeps queued. A client may have at most `per_client` jobs waiting and
// running, and all clients together `queue_limit` waiting: beyond, Submit refuses (the
// server answers 503 then), so the queue never grows without bound.

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

class FairPool {
 public:
  // A job is given a token that is stopped once the pool stops: it then ends early.
  using Job = std::function<void(std::stop_token)>;

  FairPool(std::size_t threads, std::size_t queue_limit, std::size_t per_client);
  // Stops: the jobs still waiting run at once with their token stopped, so each still gives
  // its answer; then the threads end.
  ~FairPool();
  FairPool(const FairPool&) = delete;
  FairPool& operator=(const FairPool&) = delete;

  // Queues `job` for `client`; false, and the job dropped, when the queue or the client's
  // share is full, or the pool is stopping.
  bool Submit(const std::string& client, Job job);

  // What the destructor does, sooner: from now on Submit refuses.
  void Stop();

 private:
  struct Client {
    std::deque<Job> waiting;
    std::size_t running = 0;
  };

  void Work(std::stop_token stop);

  const std::size_t queue_limit_;
  const std::size_t per_client_;
  std::mutex mutex_;
  std::condition_variable_any ready_;
  std::map<std::string, Client> clients_;
  std::list<std::string> turns_;  // the clients with jobs waiting, the next one first
  std::size_t waiting_ = 0;
  std::stop_source stopping_;
  std::vector<std::jthread> threads_;  // last: joined first
};

}  // namespace kb::server

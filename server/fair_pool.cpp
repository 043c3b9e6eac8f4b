#include "server/fair_pool.h"

#include <utility>

namespace kb::server {

FairPool::FairPool(std::size_t threads, std::size_t queue_limit, std::size_t per_client)
    : queue_limit_(queue_limit), per_client_(per_client) {
  for (std::size_t index = 0; index < threads; ++index) {
    threads_.emplace_back([this](std::stop_token stop) { Work(stop); });
  }
}

FairPool::~FairPool() {
  Stop();
}

void FairPool::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_.request_stop();
  }
  for (std::jthread& thread : threads_) thread.request_stop();
  ready_.notify_all();
  threads_.clear();
}

bool FairPool::Submit(const std::string& client, Job job) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_.stop_requested() || waiting_ >= queue_limit_) return false;
    Client& queue = clients_[client];
    if (queue.waiting.size() + queue.running >= per_client_) {
      if (queue.waiting.empty() && queue.running == 0) clients_.erase(client);
      return false;
    }
    if (queue.waiting.empty()) turns_.push_back(client);
    queue.waiting.push_back(std::move(job));
    ++waiting_;
  }
  ready_.notify_one();
  return true;
}

void FairPool::Work(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (true) {
    // Waiting jobs are still run once a stop is asked, with their token stopped, so that
    // every one gives its answer.
    ready_.wait(lock, stop, [this] { return !turns_.empty(); });
    if (turns_.empty()) return;
    const std::string client = std::move(turns_.front());
    turns_.pop_front();
    Client& queue = clients_[client];
    Job job = std::move(queue.waiting.front());
    queue.waiting.pop_front();
    --waiting_;
    ++queue.running;
    if (!queue.waiting.empty()) turns_.push_back(client);
    lock.unlock();
    job(stopping_.get_token());
    job = nullptr;
    lock.lock();
    Client& done = clients_[client];
    if (--done.running == 0 && done.waiting.empty()) clients_.erase(client);
  }
}

}  // namespace kb::server

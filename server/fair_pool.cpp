#include "server/fair_pool.h"

#include <utility>

namespace kb::server {

FairPool::FairPool(FairPoolLimits limits) : limits_(limits) {
  for (std::size_t index = 0; index < limits_.threads; ++index) {
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
    if (stopping_.stop_requested() || waiting_ >= limits_.queue_limit) return false;
    Client& queue = clients_[client];
    if (queue.waiting.size() + queue.running >= limits_.per_client) {
      if (queue.waiting.empty() && queue.running == 0) clients_.erase(client);
      return false;
    }
    if (queue.waiting.empty()) turns_.push_back(client);
    queue.waiting.push_back(std::move(job));
    ++waiting_;
  }
  ready_.notify_all();
  return true;
}

std::list<std::string>::iterator FairPool::NextTurn() {
  for (auto turn = turns_.begin(); turn != turns_.end(); ++turn) {
    // Once stopping, every waiting job runs at once, to give its answer.
    if (clients_[*turn].running < limits_.running_per_client || stopping_.stop_requested()) {
      return turn;
    }
  }
  return turns_.end();
}

void FairPool::Work(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (true) {
    ready_.wait(lock, stop, [this] { return NextTurn() != turns_.end(); });
    const auto turn = NextTurn();
    if (turn == turns_.end()) return;  // stopped, nothing waiting
    const std::string client = std::move(*turn);
    turns_.erase(turn);
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
    // A client at its cap may run again.
    ready_.notify_all();
  }
}

}  // namespace kb::server

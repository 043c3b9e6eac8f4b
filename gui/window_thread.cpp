#include "gui/window_thread.h"

#include <condition_variable>
#include <utility>

namespace kb {

WindowThreadCalls::WindowThreadCalls() {
  connect(this, &WindowThreadCalls::CallsWaiting, this, &WindowThreadCalls::RunWaitingCalls,
          Qt::QueuedConnection);
}

void WindowThreadCalls::Post(std::function<void()> call) {
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    waiting_.push_back(std::move(call));
    wake = !woken_;
    woken_ = true;
  }
  if (wake) emit CallsWaiting();
}

void WindowThreadCalls::Call(const std::function<void()>& call) {
  if (QThread::currentThread() == thread()) {
    call();
    return;
  }
  std::mutex mutex;
  std::condition_variable ran;
  bool done = false;
  Post([&] {
    call();
    const std::lock_guard lock(mutex);
    done = true;
    ran.notify_one();
  });
  std::unique_lock lock(mutex);
  ran.wait(lock, [&] { return done; });
}

void WindowThreadCalls::RunWaitingCalls() {
  {
    const std::lock_guard lock(mutex_);
    woken_ = false;  // this run has begun: calls handed over from now on need another
  }
  for (;;) {
    std::function<void()> call;
    bool wake = false;
    {
      const std::lock_guard lock(mutex_);
      if (waiting_.empty()) return;
      call = std::move(waiting_.front());
      waiting_.pop_front();
      // Should `call` run an event loop of its own, the calls after it run inside that loop.
      wake = !waiting_.empty() && !woken_;
      woken_ = woken_ || wake;
    }
    if (wake) emit CallsWaiting();
    call();
  }
}

WorkThread::WorkThread(std::function<void()> work, WindowThreadCalls& calls,
                       std::function<void()> ended)
    : work_(std::move(work)), calls_(calls), ended_(std::move(ended)) {}

void WorkThread::run() {
  work_();
  calls_.Post(std::move(ended_));
}

}  // namespace kb

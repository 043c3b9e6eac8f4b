#pragma once

// The window's thread and the thread its work runs on (Qt). Work runs on a QThread of its
// own that knows no widgets; whatever it has to show it hands over to the window's thread as
// calls, which run there, in the order handed over, while that thread's event loop runs.
//
// The calls wait in a mailbox of our own, guarded by a std::mutex, and a queued signal that
// carries nothing wakes the window's thread to run them. Every hand-over from one thread to
// the other thus goes through the standard library's locks, which ThreadSanitizer sees;
// Qt's own, inside its uninstrumented libraries, it would not.

#include <QObject>
#include <QThread>
#include <deque>
#include <functional>
#include <mutex>

namespace kb {

// Calls handed over to the thread that made the object.
class WindowThreadCalls final : public QObject {
  Q_OBJECT

 public:
  WindowThreadCalls();

  // Hands `call` over and returns at once. Any thread.
  void Post(std::function<void()> call);
  // Hands `call` over and waits until it has run; on the object's own thread, runs it at
  // once. Any thread.
  void Call(const std::function<void()>& call);

 signals:
  // Calls are waiting; emitted once for calls handed over since the last run.
  void CallsWaiting();

 private:
  // Runs the waiting calls one by one, those handed over meanwhile included. A call that
  // runs an event loop of its own (a modal box) lets the calls after it run inside it.
  void RunWaitingCalls();

  std::mutex mutex_;
  std::deque<std::function<void()>> waiting_;  // guarded by mutex_
  bool woken_ = false;  // guarded by mutex_: a run of the calls is on its way and not yet begun
};

// A thread that runs `work` once and then hands `ended` over to `calls`, as the last thing
// it does with anything of ours. Whoever runs `ended` may then wait() for the thread and
// delete it.
class WorkThread final : public QThread {
 public:
  WorkThread(std::function<void()> work, WindowThreadCalls& calls, std::function<void()> ended);

 protected:
  void run() override;

 private:
  std::function<void()> work_;
  WindowThreadCalls& calls_;
  std::function<void()> ended_;
};

}  // namespace kb

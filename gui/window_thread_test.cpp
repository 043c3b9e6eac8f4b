#include "gui/window_thread.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace kb {
namespace {

bool OnWindowThread() {
  return QThread::currentThread() == QApplication::instance()->thread();
}

// Runs an event loop of its own, as a modal box does, until `done` says so; a generous
// deadline keeps a fault from hanging the test.
void RunModalUntil(QEventLoop& loop) {
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  deadline.start(30'000);
  loop.exec();
  EXPECT_TRUE(deadline.isActive()) << "the modal loop ran into its deadline";
}

// The worker asks the window's thread a question by a modal box and waits for the answer.
// Calls handed over while the box is up (from another thread, and from the window's own)
// run inside the box's loop, in order; one of them answers. The answer reaches the worker,
// and the worker's end is handed over after everything it handed over.
TEST(WindowThreadTest, AModalCallRunsLaterCallsAndItsAnswerReachesTheWorker) {
  WindowThreadCalls calls;
  std::vector<std::string> ran;  // the window's thread only
  std::atomic<bool> box_up = false;
  std::string answer;         // written on the window's thread, read by the worker
  std::string answer_seen;    // the worker's
  QEventLoop* box = nullptr;  // the window's thread only
  QEventLoop ended_loop;

  WorkThread worker(
      [&] {
        calls.Post([&] { ran.push_back("before"); });
        calls.Call([&] {
          EXPECT_TRUE(OnWindowThread());
          ran.push_back("box");
          QEventLoop loop;
          box = &loop;
          box_up = true;
          RunModalUntil(loop);
          box = nullptr;
          answer = "OK";
        });
        answer_seen = answer;
        calls.Post([&] { ran.push_back("after"); });
      },
      calls,
      [&] {
        EXPECT_TRUE(OnWindowThread());
        ran.push_back("ended");
        ended_loop.quit();
      });
  worker.start();

  std::jthread other([&] {
    while (!box_up) std::this_thread::yield();
    for (int i = 0; i < 3; ++i) calls.Post([&, i] { ran.push_back("other " + std::to_string(i)); });
    calls.Post([&] {
      ran.push_back("press OK");
      ASSERT_NE(box, nullptr);
      box->quit();
    });
  });
  RunModalUntil(ended_loop);
  worker.wait();

  EXPECT_EQ(ran, (std::vector<std::string>{"before", "box", "other 0", "other 1", "other 2",
                                           "press OK", "after", "ended"}));
  EXPECT_EQ(answer_seen, "OK");
}

// A stop that comes while the worker waits on a box: the box goes without an answer, and the
// worker, no longer waiting, sees the stop and ends.
TEST(WindowThreadTest, AStopWhileTheWorkerWaitsEndsTheBoxAndTheWork) {
  WindowThreadCalls calls;
  std::stop_source stop;
  int answer = -1;
  int answer_seen = -2;
  bool stop_seen = false;
  QEventLoop ended_loop;

  WorkThread worker(
      [&] {
        calls.Call([&] {
          QEventLoop loop;
          const std::stop_callback close_box(stop.get_token(), [&] { loop.quit(); });
          // The user closes the window while the box is up.
          QTimer::singleShot(20, [&] { stop.request_stop(); });
          RunModalUntil(loop);
          answer = stop.stop_requested() ? 0 : 1;
        });
        answer_seen = answer;
        stop_seen = stop.stop_requested();
      },
      calls, [&] { ended_loop.quit(); });
  worker.start();
  RunModalUntil(ended_loop);
  worker.wait();

  EXPECT_EQ(answer_seen, 0);
  EXPECT_TRUE(stop_seen);
}

// On the window's own thread a call runs at once, even before the event loop runs.
TEST(WindowThreadTest, ACallOnTheWindowThreadRunsAtOnce) {
  WindowThreadCalls calls;
  bool ran = false;
  calls.Call([&] { ran = true; });
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace kb

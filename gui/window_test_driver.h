#pragma once

// What the tests of the window on real widgets share: finding the main window and its
// controls, and a user who acts while the window runs its event loop. Tests only.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

namespace kb::testing {

// The visible main window, or null.
inline QWidget* MainFrame() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->windowTitle() == "Search Quillon Knowledgebase") {
      return widget;
    }
  }
  return nullptr;
}

// The control of the visible main window with layout name `name`, or null.
template <typename Widget>
Widget* ControlOf(const char* name) {
  QWidget* frame = MainFrame();
  return frame == nullptr ? nullptr : frame->findChild<Widget*>(QString::fromLatin1(name));
}

// The main window is shown and active, so it takes keys.
inline bool WindowReady() {
  QWidget* frame = MainFrame();
  return frame != nullptr && frame->isActiveWindow();
}

// Plays the user's part while the window runs its event loop: each step waits until its
// condition holds, then acts. Steps also run while a message box is open. A script that
// has not finished after twenty seconds fails the test and closes the window.
class User {
 public:
  User() {
    QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
    poll_.start(5);
    clock_.start();
  }

  User& When(std::function<bool()> ready, std::function<void()> act) {
    steps_.push_back({std::move(ready), std::move(act)});
    return *this;
  }
  User& Then(std::function<void()> act) {
    return When([] { return true; }, std::move(act));
  }

  bool finished() const { return steps_.empty(); }

 private:
  struct Step {
    std::function<bool()> ready;
    std::function<void()> act;
  };

  void Poll() {
    if (clock_.elapsed() > 20000) {
      ADD_FAILURE() << "the user's script did not finish";
      steps_.clear();
      poll_.stop();
      if (QWidget* frame = MainFrame()) frame->close();
      return;
    }
    if (steps_.empty() || !steps_.front().ready()) return;
    const Step step = std::move(steps_.front());
    steps_.pop_front();
    step.act();
  }

  std::deque<Step> steps_;
  QTimer poll_;
  QElapsedTimer clock_;
};

}  // namespace kb::testing

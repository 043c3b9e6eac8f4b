#pragma once

// What the tests of the window on real widgets share: finding the main window and its
// controls, a user who acts while the window runs its event loop, searches counted across
// threads, and a fake xdg-open that records what it was asked to open. Tests only.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/testing/scratch_directory.h"

namespace kb::testing {

// The visible main window, or null.
inline QWidget* MainFrame() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() &&
        widget->windowTitle().startsWith(QStringLiteral("Search Quillon Knowledgebase"))) {
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

// Searches run on a thread of their own: they count their ends here, and the user's steps
// wait until the window is ready for the next one.
class SearchCount {
 public:
  void Ended() { ended_.fetch_add(1); }
  // `count` searches have ended and Search takes input again.
  bool Ready(int count) const {
    auto* search = ControlOf<QPushButton>("SearchButton");
    return ended_.load() >= count && search != nullptr && search->isEnabled();
  }

 private:
  std::atomic<int> ended_{0};
};

// An xdg-open put first on PATH, for as long as the object lives, that records its
// arguments, one call per line, in `log`.
class FakeOpener {
 public:
  explicit FakeOpener(const std::filesystem::path& directory)
      : log_((directory / "opened.log").string()) {
    std::filesystem::create_directories(directory / "bin");
    const std::filesystem::path opener = directory / "bin" / "xdg-open";
    std::ofstream(opener) << "#!/bin/sh\necho \"$@\" >> '" << log_ << "'\n";
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    old_path_ = path == nullptr ? "" : path;
    setenv("PATH", ((directory / "bin").string() + ":" + old_path_).c_str(), 1);
  }
  ~FakeOpener() { setenv("PATH", old_path_.c_str(), 1); }
  FakeOpener(const FakeOpener&) = delete;
  FakeOpener& operator=(const FakeOpener&) = delete;

  // The lines recorded, once `count` have come (the opener runs detached) or two seconds
  // have passed.
  std::vector<std::string> Opened(std::size_t count) const {
    std::vector<std::string> lines;
    for (int wait = 0; wait < 200; ++wait) {
      lines.clear();
      std::string all = ReadAll(log_);
      for (std::size_t end; (end = all.find('\n')) != std::string::npos; all.erase(0, end + 1)) {
        lines.push_back(all.substr(0, end));
      }
      if (lines.size() >= count) break;
      QTest::qWait(10);
    }
    return lines;
  }
  bool called() const { return std::filesystem::exists(log_); }

 private:
  std::string log_;
  std::string old_path_;
};

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

// Prints how long a search takes in the window, driven offscreen, next to kbsearch-cli on the
// same knowledge base in the same run. The window may take at most a tenth longer.
//
//   kbsearch_window_bench KNOWLEDGE_BASE [PHRASE] [RUNS]
//
// KNOWLEDGE_BASE is a directory with lheader.htm, lfooter.htm and ZEB/ZEB*.htm; its
// ZebResult.htm is rewritten. PHRASE defaults to "zephyr gateway" (the phrase
// bench/make_knowledge_base.py plants), RUNS to 5. Both front ends hand the
// page to a do-nothing xdg-open put first on PATH, so no browser starts.
//
// The window's figure is its Search step, from the press of the button until the window is
// ready for the next search (Search takes input again), with every repaint of the status line
// and the progress bar; the console's is the whole process, from start to exit. Runs alternate which front end goes first. A third
// figure, the same search in this process on a screen that shows nothing, tells what the
// window itself adds.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/search.h"
#include "gui/qt_window_system.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Counts the progress bar's repaints while passing every call on to the window.
class CountingScreen final : public kb::SearchScreen {
 public:
  explicit CountingScreen(kb::SearchScreen& window) : window_(window) {}
  void ShowStatus(std::string_view text) override { window_.ShowStatus(text); }
  void ShowProgressBar() override { window_.ShowProgressBar(); }
  void RedrawProgressBar(uint8_t percent) override {
    if (percent != last_percent_) ++bar_repaints;
    last_percent_ = percent;
    window_.RedrawProgressBar(percent);
  }
  void HideProgressBar() override { window_.HideProgressBar(); }
  void RedrawWindow() override { window_.RedrawWindow(); }
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override {
    std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
    ++messages;
    return window_.ShowMessage(text, caption, icon, buttons, default_button, style);
  }
  kb::NativeWindowHandle OwnerWindow() override { return window_.OwnerWindow(); }

  int bar_repaints = 0;
  int messages = 0;

 private:
  kb::SearchScreen& window_;
  int last_percent_ = 0;
};

// A screen that shows nothing: the search alone.
class BlankScreen final : public kb::SearchScreen {
 public:
  void ShowStatus(std::string_view) override {}
  void ShowProgressBar() override {}
  void RedrawProgressBar(uint8_t) override {}
  void HideProgressBar() override {}
  void RedrawWindow() override {}
  int32_t ShowMessage(std::string_view, std::string_view, std::string_view, std::string_view,
                      int32_t, int32_t) override {
    return 1;
  }
  kb::NativeWindowHandle OwnerWindow() override { return 0; }
};

double SearchAlone(const std::string& phrase) {
  const std::unique_ptr<kb::SearchState> state = kb::NewSearchState();
  BlankScreen screen;
  kb::LoadTemplates(*state, screen);
  state->search_text.Assign(phrase);
  const Clock::time_point start = Clock::now();
  kb::RunSearch(*state, screen);
  return SecondsSince(start);
}

QWidget* MainFrame() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->windowTitle() == "Search Quillon Knowledgebase") {
      return widget;
    }
  }
  return nullptr;
}

struct WindowRun {
  double seconds = 0;
  int bar_repaints = 0;
  int messages = 0;
};

// One window session in the current directory: type the phrase, press Search once, close
// once the window is ready again.
WindowRun SearchInWindow(const std::string& phrase) {
  WindowRun run;
  const std::unique_ptr<kb::platform::WindowSystem> windows = kb::platform::NewQtWindowSystem();
  std::atomic<bool> searched = false;
  const kb::SearchSteps steps{
      .load_templates = kb::LoadTemplates,
      .run_search = [&](kb::SearchState& state, kb::SearchScreen& screen, std::stop_token) {
        CountingScreen counting(screen);
        kb::RunSearch(state, counting);
        run.bar_repaints = counting.bar_repaints;
        run.messages = counting.messages;
        searched = true;
        return kb::SearchOutcome::kCompleted;
      }};
  kb::MainWindow window(*windows, steps);

  QTimer user;
  Clock::time_point pressed;
  bool typed = false;
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget* frame = MainFrame();
    if (frame == nullptr || !frame->isActiveWindow()) return;
    auto* search = frame->findChild<QPushButton*>("SearchButton");
    if (!typed) {
      QTest::keyClicks(frame->findChild<QLineEdit*>("SearchEntry"), QString::fromStdString(phrase));
      pressed = Clock::now();
      QTest::mouseClick(search, Qt::LeftButton);
      typed = true;
    } else if (searched && search->isEnabled()) {
      run.seconds = SecondsSince(pressed);
      frame->close();
    }
  });
  user.start(1);
  window.Run(kb::NewSearchState());
  return run;
}

// The seconds kbsearch-cli takes, start to exit, on `directory`.
double SearchWithCli(const std::string& directory, const std::string& phrase) {
  const std::string cli = KBSEARCH_CLI;
  std::vector<std::string> arguments{cli, "-C", directory, "--open", phrase};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const Clock::time_point start = Clock::now();
  pid_t child = 0;
  if (posix_spawn(&child, cli.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", cli.c_str());
    std::exit(2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double seconds = SecondsSince(start);
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    std::fprintf(stderr, "kbsearch-cli failed (status %d)\n", status);
    std::exit(2);
  }
  return seconds;
}

// A directory with an xdg-open that does nothing, put first on PATH.
void PutQuietOpenerOnPath(const fs::path& directory) {
  fs::create_directories(directory);
  std::ofstream(directory / "xdg-open") << "#!/bin/sh\nexit 0\n";
  fs::permissions(directory / "xdg-open", fs::perms::owner_all);
  const char* path = std::getenv("PATH");
  setenv("PATH", (directory.string() + ":" + (path == nullptr ? "" : path)).c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s KNOWLEDGE_BASE [PHRASE] [RUNS]\n", argv[0]);
    return 2;
  }
  const std::string knowledge_base = fs::absolute(argv[1]).string();
  const std::string phrase = argc > 2 ? argv[2] : "zephyr gateway";
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const fs::path opener =
      fs::temp_directory_path() / ("kbsearch-bench-" + std::to_string(getpid()));
  PutQuietOpenerOnPath(opener);
  QApplication application(argc, argv);
  fs::current_path(knowledge_base);

  // One untimed round of each warms the page cache and the toolkit.
  SearchWithCli(knowledge_base, phrase);
  WindowRun last = SearchInWindow(phrase);

  std::vector<double> window_seconds;
  std::vector<double> cli_seconds;
  std::vector<double> alone_seconds;
  for (int run = 0; run < runs; ++run) {
    alone_seconds.push_back(SearchAlone(phrase));
    if (run % 2 == 0) {
      last = SearchInWindow(phrase);
      window_seconds.push_back(last.seconds);
      cli_seconds.push_back(SearchWithCli(knowledge_base, phrase));
    } else {
      cli_seconds.push_back(SearchWithCli(knowledge_base, phrase));
      last = SearchInWindow(phrase);
      window_seconds.push_back(last.seconds);
    }
  }
  fs::remove_all(opener);

  const double window_median = Median(window_seconds);
  const double cli_median = Median(cli_seconds);
  const double alone_median = Median(alone_seconds);
  const double ratio = window_median / cli_median;
  const auto best = [](const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
  };
  std::printf("knowledge base     %s, phrase \"%s\", %d runs\n", knowledge_base.c_str(),
              phrase.c_str(), runs);
  std::printf("                     median      best\n");
  std::printf("kbsearch-cli       %8.1f ms %8.1f ms  (whole process)\n", cli_median * 1e3,
              best(cli_seconds) * 1e3);
  std::printf("window search      %8.1f ms %8.1f ms  (Search step)\n", window_median * 1e3,
              best(window_seconds) * 1e3);
  std::printf("search alone       %8.1f ms %8.1f ms  (in this process, nothing shown)\n",
              alone_median * 1e3, best(alone_seconds) * 1e3);
  std::printf("window / cli       %8.3f    %8.3f     (target at most 1.10 on the medians: %s)\n",
              ratio, best(window_seconds) / best(cli_seconds), ratio <= 1.10 ? "met" : "NOT met");
  std::printf("window / alone     %8.3f    %8.3f     (what the window's repaints add)\n",
              window_median / alone_median, best(window_seconds) / best(alone_seconds));
  std::printf("progress repaints  %8d  messages %d\n", last.bar_repaints, last.messages);
  return 0;
}

// Prints how long a search takes in the window, driven offscreen, next to kbsearch-cli on the
// same knowledge base in the same run. The window may take at most a tenth longer.
//
//   kbsearch_window_bench KNOWLEDGE_BASE [PHRASE] [RUNS] [THREADS]
//
// KNOWLEDGE_BASE is a directory with lheader.htm, lfooter.htm and ZEB/ZEB*.htm; its
// ZebResult.htm is rewritten. PHRASE defaults to "zephyr gateway" (the phrase
// bench/make_knowledge_base.py plants), RUNS to 5, THREADS to as many as the window reads
// with (one for each processor); both front ends read with that many. Both hand the page to
// a do-nothing xdg-open put first on PATH, so no browser starts.
//
// The window's figure is its Search step, from the press of the button until the window is
// ready for the next search (Search takes input again), with every repaint of the status line
// and the progress bar; the console's is the whole process, from start to exit. Runs
// alternate which front end goes first. A third figure, the same search in this process on a
// screen that shows nothing, tells what the window itself adds; a fourth, the time from
// Escape, pressed a tenth of the way through a search, until the window is ready again.
//
// Each run also tells how much processor time the rest of the machine took while it was
// measured ("elsewhere"): on a machine with few cores, a search that has to wait for one
// takes longer without doing more, and a run that shows a lot of it says more about the
// machine than about the search.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QProgressBar>
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
#include <functional>
#include <string>
#include <vector>

#include "app/scan/scan.h"
#include "app/search/search.h"
#include "app/window/main_window.h"
#include "gui/qt_window_system.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time, in seconds, that every processor of the machine spent on any work.
double MachineBusySeconds() {
  std::ifstream stat("/proc/stat");
  std::string label;
  double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  stat >> label >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
  return (user + nice + system + irq + softirq + steal) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Processor time of `who` (RUSAGE_SELF, RUSAGE_CHILDREN, RUSAGE_THREAD), in seconds.
double ProcessorSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Measures the processor time the rest of the machine takes from its making to Elsewhere().
class OtherWork {
 public:
  OtherWork() : machine_(MachineBusySeconds()), ours_(Ours()) {}
  double Elsewhere() const { return (MachineBusySeconds() - machine_) - (Ours() - ours_); }

 private:
  static double Ours() { return ProcessorSeconds(RUSAGE_SELF) + ProcessorSeconds(RUSAGE_CHILDREN); }
  double machine_;
  double ours_;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Counts the progress bar's repaints while passing every call on to the window.
class CountingScreen final : public kb::SearchScreen {
 public:
  explicit CountingScreen(kb::SearchScreen& window) : window_(window) {}
  void ScanStarted(int32_t articles) override { window_.ScanStarted(articles); }
  void ArticleDone(int32_t done, int32_t total) override {
    const int percent = kb::PercentOf(done, total);
    if (percent != last_percent_) ++bar_repaints;
    last_percent_ = percent;
    window_.ArticleDone(done, total);
  }
  void ScanEnded(std::string_view phrase) override { window_.ScanEnded(phrase); }
  void PageBeingWritten() override { window_.PageBeingWritten(); }
  void BrowserStarting() override { window_.BrowserStarting(); }
  void SearchEnded() override { window_.SearchEnded(); }
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override {
    std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
    ++messages;
    return window_.ShowMessage(text, caption, icon, buttons, default_button, style);
  }

  int bar_repaints = 0;
  int messages = 0;

 private:
  kb::SearchScreen& window_;
  int last_percent_ = 0;
};

// A screen that shows nothing: the search alone.
class BlankScreen final : public kb::SearchScreen {
 public:
  void ScanStarted(int32_t) override {}
  void ArticleDone(int32_t, int32_t) override {}
  void ScanEnded(std::string_view) override {}
  void PageBeingWritten() override {}
  void BrowserStarting() override {}
  void SearchEnded() override {}
  int32_t ShowMessage(std::string_view, std::string_view, std::string_view, std::string_view,
                      int32_t, int32_t) override {
    return 1;
  }
};

// The threads every search reads with.
std::size_t threads = 0;

double SearchAlone(const std::string& phrase) {
  BlankScreen screen;
  kb::platform::Env& env = kb::platform::Env::Default();
  const kb::SearchRequest request{.query = kb::Query::Phrase(phrase),
                                  .templates = kb::LoadTemplates(env, screen),
                                  .threads = threads};
  const Clock::time_point start = Clock::now();
  kb::RunSearch(env, request, screen);
  return SecondsSince(start);
}

QWidget* MainFrame() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() &&
        widget->windowTitle().startsWith(QStringLiteral("Search Quillon Knowledgebase"))) {
      return widget;
    }
  }
  return nullptr;
}

// Calls `ready` each time the button it watches is enabled again.
class ReadyWatch final : public QObject {
 public:
  ReadyWatch(QWidget* button, std::function<void()> ready)
      : QObject(button), ready_(std::move(ready)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled()) {
      ready_();
    }
    return false;
  }

 private:
  std::function<void()> ready_;
};

struct WindowRun {
  double seconds = 0;        // from the press of Search (or Escape) until the window is ready
  double window_thread = 0;  // processor time of the window's thread meanwhile
  double elsewhere = 0;      // processor time the rest of the machine took meanwhile
  int bar_repaints = 0;
  int messages = 0;
};

// One window session in the current directory: type the phrase, press Search once, and close
// once the window is ready again. With `cancel`, Escape is pressed once the bar shows a tenth
// and the time is taken from there.
WindowRun SearchInWindow(const std::string& phrase, bool cancel = false) {
  WindowRun run;
  const std::unique_ptr<kb::platform::WindowSystem> windows = kb::platform::NewQtWindowSystem();
  std::atomic<bool> searched = false;
  const kb::SearchSteps steps{.load_templates =
                                  [](kb::SearchScreen& screen) {
                                    return kb::LoadTemplates(kb::platform::Env::Default(), screen);
                                  },
                              .run_search =
                                  [&](const kb::SearchRequest& request, kb::SearchScreen& screen) {
                                    CountingScreen counting(screen);
                                    kb::SearchRequest with_threads = request;
                                    with_threads.threads = threads;
                                    kb::SearchReport report = kb::RunSearch(
                                        kb::platform::Env::Default(), with_threads, counting);
                                    run.bar_repaints = counting.bar_repaints;
                                    run.messages = counting.messages;
                                    searched = true;
                                    return report;
                                  }};
  kb::MainWindow window(*windows, steps);

  // Until the search starts, the user looks every millisecond whether the window is ready;
  // then the window's own signals say when to act, so that the bench itself costs the
  // window's thread nothing during the search.
  QTimer user;
  Clock::time_point pressed;
  double window_thread_before = 0;
  std::unique_ptr<OtherWork> other_work;
  const auto start_clock = [&] {
    pressed = Clock::now();
    window_thread_before = ProcessorSeconds(RUSAGE_THREAD);
    other_work = std::make_unique<OtherWork>();
  };
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget* frame = MainFrame();
    if (frame == nullptr || !frame->isActiveWindow()) return;
    user.stop();
    auto* search = frame->findChild<QPushButton*>("SearchButton");
    auto* bar = frame->findChild<QProgressBar*>("ProgressBar");
    QObject::connect(bar, &QProgressBar::valueChanged, frame, [&, frame](int value) {
      if (!cancel || value < 10) return;
      cancel = false;
      start_clock();
      QTest::keyClick(frame->windowHandle(), Qt::Key_Escape);
    });
    search->installEventFilter(new ReadyWatch(search, [&, frame] {
      if (!searched) return;
      run.seconds = SecondsSince(pressed);
      run.window_thread = ProcessorSeconds(RUSAGE_THREAD) - window_thread_before;
      run.elsewhere = other_work->Elsewhere();
      QTimer::singleShot(0, frame, [frame] { frame->close(); });
    }));
    QTest::keyClicks(frame->findChild<QLineEdit*>("SearchEntry"), QString::fromStdString(phrase));
    start_clock();
    QTest::mouseClick(search, Qt::LeftButton);
  });
  user.start(1);
  window.Run();
  return run;
}

// The seconds kbsearch-cli takes, start to exit, on `directory`.
double SearchWithCli(const std::string& directory, const std::string& phrase) {
  const std::string cli = KBSEARCH_CLI;
  std::vector<std::string> arguments{cli,      "-C",  directory, "-j", std::to_string(threads),
                                     "--open", phrase};
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
    std::fprintf(stderr, "usage: %s KNOWLEDGE_BASE [PHRASE] [RUNS] [THREADS]\n", argv[0]);
    return 2;
  }
  const std::string knowledge_base = fs::absolute(argv[1]).string();
  const std::string phrase = argc > 2 ? argv[2] : "zephyr gateway";
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  threads = argc > 4 ? static_cast<std::size_t>(std::max(1, std::atoi(argv[4])))
                     : kb::DefaultScanThreads();

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
  std::vector<double> window_thread_seconds;
  std::vector<double> cli_seconds;
  std::vector<double> alone_seconds;
  std::vector<double> cancel_seconds;
  std::printf(
      "run      cli   window    alone   cancel  (ms; processor time elsewhere meanwhile)\n");
  for (int run = 0; run < runs; ++run) {
    const auto cli = [&] {
      const OtherWork other_work;
      cli_seconds.push_back(SearchWithCli(knowledge_base, phrase));
      return other_work.Elsewhere();
    };
    const OtherWork alone_work;
    alone_seconds.push_back(SearchAlone(phrase));
    const double alone_elsewhere = alone_work.Elsewhere();
    double cli_elsewhere = 0;
    if (run % 2 == 1) cli_elsewhere = cli();
    last = SearchInWindow(phrase);
    window_seconds.push_back(last.seconds);
    window_thread_seconds.push_back(last.window_thread);
    if (run % 2 == 0) cli_elsewhere = cli();
    const WindowRun cancelled = SearchInWindow(phrase, /*cancel=*/true);
    cancel_seconds.push_back(cancelled.seconds);
    std::printf("%3d %8.1f %8.1f %8.1f %8.1f  (%.0f, %.0f, %.0f, %.0f)\n", run,
                cli_seconds.back() * 1e3, last.seconds * 1e3, alone_seconds.back() * 1e3,
                cancelled.seconds * 1e3, cli_elsewhere * 1e3, last.elsewhere * 1e3,
                alone_elsewhere * 1e3, cancelled.elsewhere * 1e3);
  }
  fs::remove_all(opener);

  const double window_median = Median(window_seconds);
  const double cli_median = Median(cli_seconds);
  const double alone_median = Median(alone_seconds);
  const double ratio = window_median / cli_median;
  const auto best = [](const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
  };
  std::printf("knowledge base     %s, phrase \"%s\", %d runs, %zu threads\n",
              knowledge_base.c_str(), phrase.c_str(), runs, threads);
  std::printf("                     median      best\n");
  std::printf("kbsearch-cli       %8.1f ms %8.1f ms  (whole process)\n", cli_median * 1e3,
              best(cli_seconds) * 1e3);
  std::printf("window search      %8.1f ms %8.1f ms  (Search step)\n", window_median * 1e3,
              best(window_seconds) * 1e3);
  std::printf("search alone       %8.1f ms %8.1f ms  (in this process, nothing shown)\n",
              alone_median * 1e3, best(alone_seconds) * 1e3);
  std::printf("window / cli       %8.3f    %8.3f     (target at most 1.10 on the medians: %s)\n",
              ratio, best(window_seconds) / best(cli_seconds), ratio <= 1.10 ? "met" : "NOT met");
  std::printf("window / alone     %8.3f    %8.3f     (what the window adds)\n",
              window_median / alone_median, best(window_seconds) / best(alone_seconds));
  std::printf(
      "window's thread    %8.1f ms             (processor time serving the window "
      "during a search)\n",
      Median(window_thread_seconds) * 1e3);
  std::printf("Escape to ready    %8.1f ms %8.1f ms  (target at most 100 ms)\n",
              Median(cancel_seconds) * 1e3, best(cancel_seconds) * 1e3);
  std::printf("progress repaints  %8d  messages %d\n", last.bar_repaints, last.messages);
  return 0;
}

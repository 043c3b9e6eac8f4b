// SIGINT and SIGTERM over POSIX: a handler passes the signal's number through a pipe to a
// thread that requests the stop, since a handler may do little more than write to a pipe.

#include "platform/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

namespace kb::platform {
namespace {

constexpr std::array<int, 2> kStopSignals = {SIGINT, SIGTERM};

// The pipe's write end, for the handler; -1 when no StopSignals exists.
std::atomic<int> signal_pipe{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

extern "C" void PassSignalOn(int number) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] const ssize_t written = ::write(signal_pipe.load(), &byte, 1);
  errno = saved_errno;
}

// The byte that tells the watching thread to end; no signal has the number 0.
constexpr unsigned char kEndWatch = 0;

}  // namespace

struct StopSignals::Watch {
  std::stop_source stop;
  int pipe_ends[2] = {-1, -1};
  std::atomic<int> received{0};
  std::array<struct sigaction, kStopSignals.size()> previous{};
  std::array<bool, kStopSignals.size()> handled{};
  std::jthread watcher;

  void WatchPipe() {
    unsigned char byte;
    while (true) {
      const ssize_t got = ::read(pipe_ends[0], &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || byte == kEndWatch) return;
      int none = 0;
      if (received.compare_exchange_strong(none, byte)) stop.request_stop();
    }
  }
};

StopSignals::StopSignals(std::stop_source stop) : watch_(std::make_unique<Watch>()) {
  watch_->stop = std::move(stop);
  if (::pipe2(watch_->pipe_ends, O_CLOEXEC) != 0) return;
  // A full pipe must never block the handler: the first byte is all that counts.
  ::fcntl(watch_->pipe_ends[1], F_SETFL, O_NONBLOCK);
  try {
    watch_->watcher = std::jthread([watch = watch_.get()] { watch->WatchPipe(); });
  } catch (const std::system_error&) {
    return;  // the signals keep their handling
  }
  signal_pipe = watch_->pipe_ends[1];

  struct sigaction pass_on {};
  pass_on.sa_handler = PassSignalOn;
  sigemptyset(&pass_on.sa_mask);
  // SA_RESETHAND: the second signal of a kind finds its default action again.
  pass_on.sa_flags = SA_RESTART | SA_RESETHAND;
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    struct sigaction& previous = watch_->previous[i];
    if (::sigaction(kStopSignals[i], nullptr, &previous) != 0) continue;
    if (previous.sa_handler == SIG_IGN) continue;
    watch_->handled[i] = ::sigaction(kStopSignals[i], &pass_on, nullptr) == 0;
  }
}

StopSignals::~StopSignals() {
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    if (watch_->handled[i]) ::sigaction(kStopSignals[i], &watch_->previous[i], nullptr);
  }
  signal_pipe = -1;
  if (watch_->watcher.joinable()) {
    [[maybe_unused]] const ssize_t written = ::write(watch_->pipe_ends[1], &kEndWatch, 1);
    watch_->watcher.join();
  }
  for (const int end : watch_->pipe_ends) {
    if (end >= 0) ::close(end);
  }
}

int StopSignals::received() const {
  return watch_->received.load();
}

int StopSignals::ExitStatus() const {
  return 128 + received();
}

}  // namespace kb::platform

// Standard output over POSIX: poll on the descriptor and on a pipe that a stop writes to.

#include "platform/result_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

namespace kb::platform {
namespace {

// Bytes held before they go out to anything but a terminal.
constexpr std::size_t kBufferSize = 64 * 1024;

}  // namespace

// A pipe that becomes readable once a stop is requested, so that poll sees the stop.
struct ResultOutput::Wake {
  struct Signal {
    int end;
    void operator()() const {
      const char byte = 1;
      [[maybe_unused]] const ssize_t written = ::write(end, &byte, 1);
    }
  };

  std::array<int, 2> ends = {-1, -1};
  std::optional<std::stop_callback<Signal>> on_stop;

  explicit Wake(const std::stop_source& stop) {
    if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) ends = {-1, -1};
    if (ends[1] >= 0) on_stop.emplace(stop.get_token(), Signal{ends[1]});
  }
  ~Wake() {
    on_stop.reset();
    for (const int end : ends) {
      if (end >= 0) ::close(end);
    }
  }
};

ResultOutput::ResultOutput(int descriptor, std::stop_source stop)
    : descriptor_(descriptor), stop_(std::move(stop)), wake_(std::make_unique<Wake>(stop_)) {
  struct stat status {};
  regular_file_ = ::fstat(descriptor_, &status) == 0 && S_ISREG(status.st_mode);
  terminal_ = ::isatty(descriptor_) == 1;
  buffer_.reserve(kBufferSize);
}

ResultOutput::~ResultOutput() = default;

bool ResultOutput::Write(std::string_view bytes) {
  if (state_ != State::kOpen) return false;
  if (terminal_) return Deliver(bytes);
  if (buffer_.size() + bytes.size() > kBufferSize && !Flush()) return false;
  if (bytes.size() >= kBufferSize) return Deliver(bytes);
  buffer_.append(bytes);
  return true;
}

bool ResultOutput::Flush() {
  if (state_ != State::kOpen) return false;
  const bool delivered = Deliver(buffer_);
  buffer_.clear();
  return delivered;
}

bool ResultOutput::Deliver(std::string_view bytes) {
  while (!bytes.empty()) {
    // A regular file takes its bytes at once; anything else is waited for together with the
    // stop, and given no more than a pipe takes in one step once poll finds room, so that
    // the write itself never waits. Once the stop is requested, bytes still go out while the
    // output takes them at once, and are given up as soon as it would wait.
    std::size_t chunk = bytes.size();
    if (!regular_file_) {
      const bool stopping = stop_.stop_requested() || wake_->ends[0] < 0;
      std::array<pollfd, 2> watched = {pollfd{descriptor_, POLLOUT, 0},
                                       pollfd{wake_->ends[0], POLLIN, 0}};
      if (::poll(watched.data(), stopping ? 1 : 2, stopping ? 0 : -1) < 0) {
        if (errno == EINTR) continue;
        return Fail(errno);
      }
      if (watched[0].revents == 0) {
        if (!stopping) continue;  // woken by the stop: looked at again without waiting
        state_ = State::kStopped;
        return false;
      }
      if ((watched[0].revents & POLLNVAL) != 0) return Fail(EBADF);
      chunk = std::min<std::size_t>(chunk, PIPE_BUF);
    }
    const ssize_t put = ::write(descriptor_, bytes.data(), chunk);
    if (put < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      if (errno == EPIPE) {
        state_ = State::kClosedByReader;
        stop_.request_stop();
        return false;
      }
      return Fail(errno);
    }
    // A write that takes nothing would be tried for ever.
    if (put == 0) return Fail(ENOSPC);
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

bool ResultOutput::Fail(int os_error) {
  state_ = State::kFailed;
  std::array<char, 256> text{};
  reason_ = ::strerror_r(os_error, text.data(), text.size());
  stop_.request_stop();
  return false;
}

}  // namespace kb::platform

#pragma once

// Standard output as a console program writes its results to it: every write checked, and no
// write that keeps a stop waiting. A reader that stalls (a paused pager, a consumer that
// reads nothing) blocks a plain write for ever, and a signal then cannot end the program;
// here a write waits for the output to take bytes and for a stop together, and the stop wins.
// The descriptor's own flags are never changed, since the shell and other programs share it.

#include <cstddef>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

namespace kb::platform {

class ResultOutput {
 public:
  enum class State {
    kOpen,            // every write so far reached the output
    kFailed,          // a write failed: no space, a file-size limit, an I/O error, no output
    kClosedByReader,  // the reading end of a pipe was closed, as after `| head -1`
    kStopped,         // after a stop, the output would have waited: the rest is given up
  };

  // Writes to `descriptor`, which stays open and must outlive this. A failure, and a reader
  // that goes away, request a stop of `stop`. Once a stop of `stop` is requested, from
  // anywhere, bytes go out only as long as the output takes them without waiting: the first
  // write that would wait, or is waiting, is abandoned, and so is every later one. A terminal gets
  // each Write at once; anything else gets the bytes when the buffer fills and at Flush.
  ResultOutput(int descriptor, std::stop_source stop);

  // The descriptor of standard output.
  static constexpr int kStandardOutput = 1;
  ~ResultOutput();
  ResultOutput(const ResultOutput&) = delete;
  ResultOutput& operator=(const ResultOutput&) = delete;

  // Adds `bytes`. False once the output is no longer kOpen; nothing is written then.
  bool Write(std::string_view bytes);
  // Writes out what the buffer holds. False once the output is no longer kOpen.
  bool Flush();

  State state() const { return state_; }
  // Whether the output is a terminal.
  bool terminal() const { return terminal_; }
  // Why a write failed, in the system's words ("No space left on device"); "" unless kFailed.
  const std::string& reason() const { return reason_; }

 private:
  struct Wake;

  bool Deliver(std::string_view bytes);
  bool Fail(int os_error);

  int descriptor_;
  std::stop_source stop_;
  bool regular_file_ = false;
  bool terminal_ = false;
  std::string buffer_;
  State state_ = State::kOpen;
  std::string reason_;
  std::unique_ptr<Wake> wake_;
};

}  // namespace kb::platform

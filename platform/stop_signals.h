#pragma once

// The signals that ask a program to end, SIGINT (Ctrl-C) and SIGTERM, turned into a request
// to stop the work in progress, so that the program can end it cleanly (the console front end
// stops its search, writes no page and exits with the status a shell expects).

#include <memory>
#include <stop_token>

namespace kb::platform {

class StopSignals {
 public:
  // From now until destroyed, the first SIGINT or SIGTERM requests a stop of `stop` and is
  // remembered; a second one of the same kind ends the program at once, as it would have
  // without this. A signal that was ignored when this is made stays ignored (a shell starts
  // background programs with Ctrl-C ignored). Only one StopSignals may exist at a time; the
  // handling the signals had before comes back when it is destroyed.
  explicit StopSignals(std::stop_source stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal that requested the stop (SIGINT or SIGTERM), 0 while none has arrived.
  int received() const;
  // The exit status of a program that stops because of that signal: 128 plus its number,
  // as a shell reports a program the signal ended (130 for SIGINT, 143 for SIGTERM).
  int ExitStatus() const;

 private:
  struct Watch;
  std::unique_ptr<Watch> watch_;
};

}  // namespace kb::platform

#include "platform/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kb::platform {
namespace {

constexpr std::string_view kOpenerName = "xdg-open";
// The search path an unset PATH stands for.
constexpr std::string_view kDefaultSearchPath = "/bin:/usr/bin";

bool IsDirectory(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The opener's path: the first executable regular file of that name in a PATH directory
// (an empty entry stands for the current directory), or empty.
std::string FindOpener() {
  const char* variable = std::getenv("PATH");
  const std::string_view search_path = variable != nullptr ? variable : kDefaultSearchPath;
  std::size_t start = 0;
  while (start <= search_path.size()) {
    std::size_t end = search_path.find(':', start);
    if (end == std::string_view::npos) end = search_path.size();
    std::string_view directory = search_path.substr(start, end - start);
    if (directory.empty()) directory = ".";
    std::string candidate;
    candidate.reserve(directory.size() + 1 + kOpenerName.size());
    candidate.append(directory);
    candidate.push_back('/');
    candidate.append(kOpenerName);
    struct stat status;
    if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return {};
}

// Why the document cannot be opened, or 0 when it exists.
int32_t CheckDocument(std::string_view document, std::string_view directory) {
  std::string path;
  if (!document.starts_with('/')) {
    path.assign(directory.empty() ? "." : directory).append("/");
  }
  path.append(document);
  struct stat status;
  if (::stat(path.c_str(), &status) == 0) return 0;
  if (errno == ENOTDIR) return launch::kPathNotFound;
  const std::size_t slash = path.find_last_of('/');
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  return IsDirectory(parent) ? launch::kFileNotFound : launch::kPathNotFound;
}

// What the detached child tells the caller through the pipe when it could not start the
// opener. The pipe closes on a successful exec without anything written.
struct StartFailure {
  enum Stage : int { kFork, kChangeDirectory, kExec, kExit } stage;
  int error;  // errno, or for kExit the opener's exit status (128 and the signal that ended it)
};

[[noreturn]] void ReportAndExit(int pipe_end, StartFailure::Stage stage) {
  const StartFailure failure{stage, errno};
  [[maybe_unused]] const ssize_t written = ::write(pipe_end, &failure, sizeof failure);
  ::_exit(127);
}

// Runs in the detached child, where only async-signal-safe calls are allowed: everything it
// needs was prepared before the fork.
[[noreturn]] void BecomeOpener(const char* opener, char* const argv[], const char* directory,
                               int null_device, int pipe_end) {
  if (directory != nullptr && ::chdir(directory) != 0) {
    ReportAndExit(pipe_end, StartFailure::kChangeDirectory);
  }
  if (null_device >= 0) {
    ::dup2(null_device, STDIN_FILENO);
    ::dup2(null_device, STDOUT_FILENO);
    ::dup2(null_device, STDERR_FILENO);
  }
  // Start the opener the way a fresh process starts: nothing blocked, nothing ignored.
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    ::sigaction(signal_number, &default_action, nullptr);
  }
  ::execv(opener, argv);
  ReportAndExit(pipe_end, StartFailure::kExec);
}

int64_t MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// Runs in the intermediate child (async-signal-safe calls only): waits up to kOpenerWaitMs
// for the opener, and reports through the pipe an opener that ended with a status other
// than 0. One still running by then is left to run.
void AwaitOpener(pid_t opener, int pipe_end) {
  const int64_t deadline = MonotonicMs() + kOpenerWaitMs;
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(opener, &status, WNOHANG);
    if (ended == opener) {
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (code != 0) {
        const StartFailure failure{StartFailure::kExit, code};
        [[maybe_unused]] const ssize_t written = ::write(pipe_end, &failure, sizeof failure);
      }
      return;
    }
    if ((ended < 0 && errno != EINTR) || MonotonicMs() >= deadline) return;
    const timespec pause{0, 5'000'000};
    ::nanosleep(&pause, nullptr);
  }
}

// The code closest to an opener's exit status, in the numbering xdg-open documents.
int32_t CodeOfExit(int status) {
  switch (status) {
    case 2:  // a file does not exist
      return launch::kFileNotFound;
    case 3:  // a required tool could not be found
    case 4:  // the action failed
      return launch::kNoAssociatedProgram;
    default:
      return launch::kOpenerFailed;
  }
}

int32_t CodeOf(const StartFailure& failure) {
  if (failure.stage == StartFailure::kExit) return CodeOfExit(failure.error);
  if (failure.error == ENOMEM || failure.error == EAGAIN) return launch::kNotEnoughMemory;
  switch (failure.stage) {
    case StartFailure::kFork:
      return launch::kNotEnoughMemory;
    case StartFailure::kChangeDirectory:
      return launch::kPathNotFound;
    case StartFailure::kExec:
    case StartFailure::kExit:
      return launch::kNoAssociatedProgram;
  }
  return launch::kNoAssociatedProgram;
}

}  // namespace

int32_t OpenDocument(std::string_view document, std::string_view directory) {
  if (!directory.empty() && !IsDirectory(std::string(directory))) return launch::kPathNotFound;
  if (const int32_t problem = CheckDocument(document, directory); problem != 0) return problem;
  const std::string opener = FindOpener();
  if (opener.empty()) return launch::kNoAssociatedProgram;

  std::string name(kOpenerName);
  std::string document_argument(document);
  char* const argv[] = {name.data(), document_argument.data(), nullptr};
  const std::string directory_argument(directory);
  const char* child_directory = directory.empty() ? nullptr : directory_argument.c_str();

  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return launch::kNotEnoughMemory;
  const int null_device = ::open("/dev/null", O_RDWR | O_CLOEXEC);

  // Fork twice: the intermediate child awaits the opener a while and ends, and is reaped
  // here, so the opener is adopted by init and never becomes our zombie.
  const pid_t intermediate = ::fork();
  if (intermediate == 0) {
    ::close(pipe_ends[0]);
    ::setsid();
    const pid_t opener_pid = ::fork();
    if (opener_pid < 0) ReportAndExit(pipe_ends[1], StartFailure::kFork);
    if (opener_pid == 0) {
      BecomeOpener(opener.c_str(), argv, child_directory, null_device, pipe_ends[1]);
    }
    AwaitOpener(opener_pid, pipe_ends[1]);
    ::_exit(0);
  }
  const int fork_error = errno;
  ::close(pipe_ends[1]);
  if (null_device >= 0) ::close(null_device);
  if (intermediate < 0) {
    ::close(pipe_ends[0]);
    return CodeOf({StartFailure::kFork, fork_error});
  }

  int status;
  while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
  }
  StartFailure failure{};
  ssize_t received;
  do {
    received = ::read(pipe_ends[0], &failure, sizeof failure);
  } while (received < 0 && errno == EINTR);
  ::close(pipe_ends[0]);
  if (received == static_cast<ssize_t>(sizeof failure)) return CodeOf(failure);
  return launch::kStarted;
}

bool ChangeDirectory(std::string_view path, std::string& reason) {
  if (::chdir(std::string(path).c_str()) == 0) return true;
  reason = std::strerror(errno);
  return false;
}

}  // namespace kb::platform

#include "platform/result_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <random>
#include <string>
#include <thread>

#include "platform/process.h"

namespace kb::platform {
namespace {

struct Pipe {
  int ends[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0); }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() { Close(ends[0]); }
  void CloseWrite() { Close(ends[1]); }
  static void Close(int& end) {
    if (end >= 0) ::close(end);
    end = -1;
  }
};

// Everything the output is given arrives whole and in order, whatever the sizes of the
// writes around the buffer's size and a pipe's step, to a pipe and to a regular file.
TEST(ResultOutputTest, EveryByteArrivesInOrderAtAnySizeOfWrite) {
  std::mt19937 random(17);
  std::string sent;
  std::vector<std::string> writes;
  for (int i = 0; i < 300; ++i) {
    const std::size_t size = random() % 4 == 0 ? random() % 200000 : random() % 5000;
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    sent += bytes;
    writes.push_back(std::move(bytes));
  }

  Pipe pipe;
  auto received = std::async(std::launch::async, [read_end = pipe.ends[0]] {
    std::string got;
    char chunk[8192];
    ssize_t count;
    while ((count = ::read(read_end, chunk, sizeof chunk)) > 0) got.append(chunk, count);
    return got;
  });
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    ResultOutput to_pipe(pipe.ends[1], {});
    ResultOutput to_file(::fileno(file), {});
    for (const std::string& bytes : writes) {
      ASSERT_TRUE(to_pipe.Write(bytes));
      ASSERT_TRUE(to_file.Write(bytes));
    }
    EXPECT_TRUE(to_pipe.Flush());
    EXPECT_TRUE(to_file.Flush());
    EXPECT_EQ(to_pipe.state(), ResultOutput::State::kOpen);
  }
  pipe.CloseWrite();
  EXPECT_TRUE(received.get() == sent);
  std::string in_file(sent.size() + 1, '\0');
  std::rewind(file);
  EXPECT_EQ(std::fread(in_file.data(), 1, in_file.size(), file), sent.size());
  in_file.resize(sent.size());
  EXPECT_TRUE(in_file == sent);
  std::fclose(file);
}

// A failed write, and a reader that has gone, end the output and request the stop; nothing
// is written after.
TEST(ResultOutputTest, AFailureOrAGoneReaderEndsTheOutputAndRequestsTheStop) {
  PrepareProcess();  // as the program: a closed pipe fails the write instead of a signal
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  Pipe gone;
  gone.CloseRead();
  // A number far above those the test opens, so that no descriptor made meanwhile takes it.
  const int closed_end = 1000;
  ASSERT_EQ(::fcntl(closed_end, F_GETFD), -1);

  struct Case {
    int descriptor;
    ResultOutput::State state;
    std::string reason;
  };
  for (const Case& c : {Case{full, ResultOutput::State::kFailed, "No space left on device"},
                        Case{gone.ends[1], ResultOutput::State::kClosedByReader, ""},
                        Case{closed_end, ResultOutput::State::kFailed, "Bad file descriptor"}}) {
    std::stop_source stop;
    ResultOutput output(c.descriptor, stop);
    output.Write("a line\n");
    EXPECT_FALSE(output.Flush());
    EXPECT_EQ(output.state(), c.state);
    EXPECT_EQ(output.reason(), c.reason);
    EXPECT_TRUE(stop.stop_requested());
    EXPECT_FALSE(output.Write("more\n"));
  }
  ::close(full);
}

// A write that waits for a reader who never reads is abandoned when the stop comes.
TEST(ResultOutputTest, AStopAbandonsAWriteThatWaitsForTheReader) {
  Pipe pipe;
  const int capacity = ::fcntl(pipe.ends[0], F_GETPIPE_SZ);
  ASSERT_GT(capacity, 0);
  std::stop_source stop;
  ResultOutput output(pipe.ends[1], stop);
  auto written = std::async(std::launch::async, [&] {
    const bool wrote = output.Write(std::string(4 * static_cast<std::size_t>(capacity), 'x'));
    return wrote && output.Flush();
  });
  // The pipe full: the write waits.
  int held = 0;
  while (held < capacity) {
    ASSERT_EQ(::ioctl(pipe.ends[0], FIONREAD, &held), 0);
    std::this_thread::yield();
  }
  stop.request_stop();
  ASSERT_EQ(written.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_FALSE(written.get());
  EXPECT_EQ(output.state(), ResultOutput::State::kStopped);
}

}  // namespace
}  // namespace kb::platform

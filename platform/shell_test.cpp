#include "platform/shell.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/testing/scratch_directory.h"

namespace kb::platform {
namespace {

namespace fs = std::filesystem;
using kb::testing::ReadAll;

void WriteFile(const fs::path& path, std::string_view text, fs::perms permissions) {
  std::ofstream(path, std::ios::binary) << text;
  fs::permissions(path, permissions);
}

// Waits for `path` to appear; a limit far beyond any busy machine's delay tells one that
// never does.
bool AppearsSoon(const fs::path& path) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < limit) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class OpenDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kbsearch-shell-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directory(root_ / "bin");
    fs::create_directory(root_ / "work");
    WriteFile(root_ / "work" / "page.htm", "<p>page</p>", fs::perms::owner_read);
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    ::setenv("PATH", (root_ / "bin").c_str(), 1);
  }
  void TearDown() override {
    fs::create_directories(root_ / "record");
    std::ofstream(root_ / "record" / "stop");
    ::setenv("PATH", saved_path_.c_str(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fs::remove_all(root_);
  }

  // An opener that records its arguments, working directory, standard output and process id,
  // then stays alive until the test lets it go.
  void InstallRecordingOpener() {
    const std::string record = (root_ / "record").string();
    WriteFile(root_ / "bin" / "xdg-open",
              "#!/bin/sh\n"
              "PATH=/usr/bin:/bin\n"
              "mkdir -p '" +
                  record +
                  "'\n"
                  "cd_now=$(pwd)\n"
                  "echo $$ > '" +
                  record +
                  "/pid.tmp'\n"
                  "printf '%s\\n' \"$#\" \"$@\" \"$cd_now\" \"$(readlink /proc/$$/fd/1)\" > '" +
                  record +
                  "/args.tmp'\n"
                  "mv '" +
                  record + "/pid.tmp' '" + record +
                  "/pid'\n"
                  "mv '" +
                  record + "/args.tmp' '" + record +
                  "/args'\n"
                  "i=0; while [ ! -e '" +
                  record +
                  "/stop' ] && [ $i -lt 500 ]; do\n"
                  "  sleep 0.01; i=$((i+1)); done\n",
              fs::perms::owner_all);
  }

  fs::path root_;
  std::string saved_path_;
};

// An opener still running after a while has started: the call returns, and leaves it running.
TEST_F(OpenDocumentTest, StartsTheOpenerDetachedAndReturnsWithoutWaitingForIt) {
  InstallRecordingOpener();
  const fs::path work = root_ / "work";

  EXPECT_GT(OpenDocument("./page.htm", work.string()), 32);

  ASSERT_TRUE(AppearsSoon(root_ / "record" / "args"));
  EXPECT_EQ(ReadAll(root_ / "record" / "args"),
            "1\n./page.htm\n" + work.string() + "\n/dev/null\n");
  // The opener is still running although the call has returned.
  const pid_t opener = std::stoi(ReadAll(root_ / "record" / "pid"));
  EXPECT_EQ(::kill(opener, 0), 0);
  // The intermediate process has been reaped and the opener is not our child.
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(OpenDocumentTest, ReportsWhatCanBeKnownBeforeStarting) {
  InstallRecordingOpener();
  const std::string work = (root_ / "work").string();

  EXPECT_EQ(OpenDocument("./missing.htm", work), launch::kFileNotFound);
  EXPECT_EQ(OpenDocument("./no-such-dir/page.htm", work), launch::kPathNotFound);
  EXPECT_EQ(OpenDocument("./page.htm/page.htm", work), launch::kPathNotFound);
  EXPECT_EQ(OpenDocument("./page.htm", (root_ / "gone").string()), launch::kPathNotFound);
  EXPECT_FALSE(fs::exists(root_ / "record"));
}

TEST_F(OpenDocumentTest, WithoutARunnableOpenerNoProgramIsAssociated) {
  const std::string work = (root_ / "work").string();
  EXPECT_EQ(OpenDocument("./page.htm", work), launch::kNoAssociatedProgram);

  // Present but not executable: skipped like a missing one.
  WriteFile(root_ / "bin" / "xdg-open", "#!/bin/sh\n", fs::perms::owner_read);
  EXPECT_EQ(OpenDocument("./page.htm", work), launch::kNoAssociatedProgram);

  // Executable, but the system cannot run it.
  WriteFile(root_ / "bin" / "xdg-open", "#!/no/such/interpreter\n", fs::perms::owner_all);
  EXPECT_EQ(OpenDocument("./page.htm", work), launch::kNoAssociatedProgram);
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

// An opener that ends at once is a launch that failed, but for status 0: its status gives the
// closest reason (xdg-open exits 3 where no browser is to be found).
TEST_F(OpenDocumentTest, AnOpenerThatFailsAtOnceSaysWhy) {
  const std::string work = (root_ / "work").string();
  for (const auto& [script, code] :
       std::vector<std::pair<std::string, int32_t>>{{"exit 0", launch::kStarted},
                                                    {"exit 2", launch::kFileNotFound},
                                                    {"exit 3", launch::kNoAssociatedProgram},
                                                    {"exit 4", launch::kNoAssociatedProgram},
                                                    {"exit 1", launch::kOpenerFailed},
                                                    {"kill -9 $$", launch::kOpenerFailed}}) {
    WriteFile(root_ / "bin" / "xdg-open", "#!/bin/sh\n" + script + "\n", fs::perms::owner_all);
    EXPECT_EQ(OpenDocument("./page.htm", work), code) << script;
  }
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(ChangeDirectoryTest, MovesOrSaysWhyNot) {
  const fs::path before = fs::current_path();
  std::string reason;
  ASSERT_TRUE(ChangeDirectory("/", reason));
  EXPECT_EQ(fs::current_path(), "/");
  EXPECT_FALSE(ChangeDirectory("/no/such/directory", reason));
  EXPECT_EQ(reason, "No such file or directory");
  EXPECT_EQ(fs::current_path(), "/");
  ASSERT_TRUE(ChangeDirectory(before.string(), reason));
}

}  // namespace
}  // namespace kb::platform

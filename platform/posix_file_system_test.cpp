#include "platform/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/beneath_folder.h"
#include "platform/file_identity.h"
#include "support/testing/scratch_directory.h"

namespace kb::platform {
namespace {

using kb::testing::ReadAll;
using kb::testing::ScratchDirectory;

using FilePointer = std::unique_ptr<File>;

SystemError Open(const std::string& path, Access access, Lock lock, FilePointer& file,
                 Disposition disposition = Disposition::kOpenExisting) {
  uint64_t size = 0;
  return OpenRegularFile(Env::Default(), path, access, lock, disposition, file, size);
}

struct FirstRead {
  SystemError error = system_error::kNone;
  std::string bytes;  // what the open read
  uint64_t size = 0;
};

FirstRead OpenForReading(const std::string& path, std::size_t buffer_size,
                         Lock lock = Lock::kShared) {
  FilePointer file;
  std::vector<char> buffer(buffer_size, '#');
  std::size_t count = 99;
  FirstRead read;
  read.error = OpenFileForReading(Env::Default(), path, lock, buffer, file, count, read.size);
  read.bytes.assign(buffer.data(), count);
  EXPECT_EQ(file != nullptr, read.error == system_error::kNone) << path;
  return read;
}

TEST(OpenFileForReadingTest, ReadsTheFirstBytesAndTellsTheSize) {
  ScratchDirectory scratch;
  const std::string text = "0123456789abcdef";
  struct Case {
    std::size_t file_size;
    std::size_t buffer_size;
  };
  // Short of the buffer, filling it exactly, and larger than it; and empty.
  for (const Case c : {Case{10, 16}, Case{16, 16}, Case{16, 4}, Case{0, 16}, Case{1, 1}}) {
    const FirstRead read =
        OpenForReading(scratch.Write("file", text.substr(0, c.file_size)), c.buffer_size);
    EXPECT_EQ(read.error, system_error::kNone);
    EXPECT_EQ(read.size, c.file_size) << c.file_size << " in " << c.buffer_size;
    EXPECT_EQ(read.bytes, text.substr(0, std::min(c.file_size, c.buffer_size)));
  }

  const std::string read_only = scratch.Write("read-only", "text");
  kb::testing::MakeReadOnly(read_only);
  EXPECT_EQ(OpenForReading(read_only, 16).bytes, "text");
}

TEST(OpenFileForReadingTest, RelativePathsStartingWithTheCurrentDirectory) {
  ScratchDirectory scratch;
  scratch.Write("file", "data");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  for (const std::string path : {"file", "./file", "././file", ".//file", "././/file"}) {
    EXPECT_EQ(OpenForReading(path, 16).bytes, "data") << path;
  }
  EXPECT_EQ(OpenForReading("./absent", 16).error, system_error::kFileNotFound);
  EXPECT_EQ(OpenForReading("./absent/file", 16).error, system_error::kPathNotFound);
  EXPECT_EQ(OpenForReading("./", 16).error, system_error::kAccessDenied);
  EXPECT_EQ(OpenForReading(".", 16).error, system_error::kAccessDenied);
  std::filesystem::current_path(previous);
}

// Names that cannot be paths, and whatever is not a regular file (a FIFO with nobody at the
// other end or one holding data, a folder, a socket, devices that give nothing or bytes
// without end), are refused alike by an open of any kind and by an open for reading, which
// neither waits nor reads anything of them.
TEST(OpenFileTest, RefusesWhatIsNotARegularFileWithoutWaitingOrReadingIt) {
  ScratchDirectory scratch;
  std::filesystem::create_symlink("loop", scratch / "loop");
  const std::string fifo = scratch / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const int server = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = scratch / "socket";
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 1), 0);

  struct Case {
    std::string path;
    SystemError error;
  };
  const Case cases[] = {
      {scratch / "absent", system_error::kFileNotFound},
      {scratch / "absent/file", system_error::kPathNotFound},
      {std::string("a\0b", 3), system_error::kInvalidName},
      {scratch / std::string(300, 'n'), system_error::kInvalidName},
      {scratch / "loop", system_error::kBadPathName},
      {fifo, system_error::kAccessDenied},
      {scratch.path().string(), system_error::kAccessDenied},
      {socket_path, system_error::kAccessDenied},
      {"/dev/null", system_error::kAccessDenied},
      {"/dev/zero", system_error::kAccessDenied},
  };
  const auto expect_refused = [](const Case& c) {
    for (const auto& [access, lock] : {std::pair{Access::kRead, Lock::kNone},
                                       {Access::kReadWrite, Lock::kExclusive},
                                       {Access::kWrite, Lock::kNone}}) {
      FilePointer file;
      EXPECT_EQ(Open(c.path, access, lock, file), c.error) << c.path << int(access);
      EXPECT_EQ(file, nullptr);
    }
    for (const Lock lock : {Lock::kShared, Lock::kExclusive}) {
      EXPECT_EQ(OpenForReading(c.path, 16, lock).error, c.error) << c.path;
    }
  };
  for (const Case& c : cases) expect_refused(c);
  close(server);

  // The FIFO's data is left for its reader.
  const int other_end = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(other_end, 0);
  ASSERT_EQ(write(other_end, "data", 4), 4);
  expect_refused({fifo, system_error::kAccessDenied});
  EXPECT_EQ(OpenForReading(fifo, 2).error, system_error::kAccessDenied);
  char left[8] = {};
  EXPECT_EQ(read(other_end, left, sizeof left), 4);
  close(other_end);
}

// An open for reading takes its lock before it reads: from a file held against it, nothing.
TEST(OpenFileTest, LocksExcludeConflictingOpensUntilClosed) {
  ScratchDirectory scratch;
  const std::string path = scratch.Write("shared", "data");
  FilePointer writer;
  ASSERT_EQ(Open(path, Access::kReadWrite, Lock::kExclusive, writer), system_error::kNone);

  FilePointer other;
  EXPECT_EQ(Open(path, Access::kRead, Lock::kShared, other), system_error::kSharingViolation);
  EXPECT_EQ(Open(path, Access::kReadWrite, Lock::kExclusive, other),
            system_error::kSharingViolation);
  EXPECT_EQ(Open(path, Access::kWrite, Lock::kExclusive, other, Disposition::kCreateOrTruncate),
            system_error::kSharingViolation);
  EXPECT_EQ(ReadAll(path), "data") << "a create refused by the lock must not empty the file";
  const FirstRead refused = OpenForReading(path, 16);
  EXPECT_EQ(refused.error, system_error::kSharingViolation);
  EXPECT_EQ(refused.bytes, "");
  EXPECT_EQ(OpenForReading(path, 16, Lock::kNone).bytes, "data");
  EXPECT_EQ(Open(path, Access::kRead, Lock::kNone, other), system_error::kNone);
  // Closing an open of the process leaves the lock of another open of it in place.
  ASSERT_EQ(other->Close(), system_error::kNone);
  EXPECT_EQ(Open(path, Access::kRead, Lock::kShared, other), system_error::kSharingViolation);

  ASSERT_EQ(writer->Close(), system_error::kNone);
  FilePointer reader;
  std::vector<char> buffer(16);
  std::size_t count = 0;
  uint64_t size = 0;
  ASSERT_EQ(OpenFileForReading(Env::Default(), path, Lock::kShared, buffer, reader, count, size),
            system_error::kNone);
  EXPECT_EQ(Open(path, Access::kRead, Lock::kShared, other), system_error::kNone);
  EXPECT_EQ(OpenForReading(path, 16).bytes, "data") << "readers share the file";
  EXPECT_EQ(Open(path, Access::kReadWrite, Lock::kExclusive, writer),
            system_error::kSharingViolation);
}

// What the index takes for a file being written: every lock of another process and the
// exclusive locks of this one, never a shared lock of this process, which only reads.
TEST(LockedFilesTest, LeaveOutTheSharedLocksOfThisProcessAlone) {
  if (access("/proc/locks", R_OK) != 0) GTEST_SKIP() << "no /proc/locks to read";
  ScratchDirectory scratch;
  const std::string read = scratch.Write("read", "data");
  const std::string written = scratch.Write("written", "data");
  const auto identity = [](const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0);
    return LockedFile{major(status.st_dev), minor(status.st_dev), status.st_ino};
  };
  FilePointer reader;
  FilePointer writer;
  ASSERT_EQ(Open(read, Access::kRead, Lock::kShared, reader), system_error::kNone);
  ASSERT_EQ(Open(written, Access::kReadWrite, Lock::kExclusive, writer), system_error::kNone);
  std::set<LockedFile> locked = LockedFiles();
  EXPECT_TRUE(locked.contains(identity(written)));
  EXPECT_FALSE(locked.contains(identity(read)));

  // Another process that shares the read lock holds one of its own.
  std::array<int, 2> held{};
  std::array<int, 2> done{};
  ASSERT_EQ(pipe(held.data()), 0);
  ASSERT_EQ(pipe(done.data()), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int file = open(read.c_str(), O_RDONLY);
    char byte = flock(file, LOCK_SH | LOCK_NB) == 0 ? 'y' : 'n';
    if (write(held[1], &byte, 1) != 1 || ::read(done[0], &byte, 1) != 1) _exit(1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(held[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  EXPECT_TRUE(LockedFiles().contains(identity(read)));
  EXPECT_EQ(write(done[1], &byte, 1), 1);
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  for (const int end : {held[0], held[1], done[0], done[1]}) close(end);
}

TEST(FileTest, CreatesEmptiesReadsAndWritesAtOffsets) {
  ScratchDirectory scratch;
  const std::string path = scratch.Write("file", "old contents");
  FilePointer file;
  uint64_t size = 99;
  ASSERT_EQ(OpenRegularFile(Env::Default(), path, Access::kReadWrite, Lock::kExclusive,
                            Disposition::kCreateOrTruncate, file, size),
            system_error::kNone);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(ReadAll(path), "");

  std::size_t count = 0;
  ASSERT_EQ(file->WriteAt(0, std::string_view("hello world"), count), system_error::kNone);
  EXPECT_EQ(count, 11u);
  ASSERT_EQ(file->WriteAt(6, std::string_view("WORLD"), count), system_error::kNone);
  ASSERT_EQ(file->Size(size), system_error::kNone);
  EXPECT_EQ(size, 11u);

  std::vector<char> buffer(8, '#');
  ASSERT_EQ(file->ReadAt(4, buffer, count), system_error::kNone);
  EXPECT_EQ(std::string(buffer.data(), count), "o WORLD") << "a read stops at the end";
  ASSERT_EQ(file->ReadAt(11, buffer, count), system_error::kNone);
  EXPECT_EQ(count, 0u);

  FilePointer created;
  ASSERT_EQ(OpenRegularFile(Env::Default(), scratch / "new", Access::kWrite, Lock::kExclusive,
                            Disposition::kCreateOrTruncate, created, size),
            system_error::kNone);
  EXPECT_TRUE(std::filesystem::is_regular_file(scratch / "new"));
}

TEST(FileTest, ReadsWhatIsInMemoryWithoutWaiting) {
  ScratchDirectory scratch;
  const std::string path = scratch.Write("article", "just written");
  FilePointer file;
  ASSERT_EQ(Open(path, Access::kRead, Lock::kNone, file), system_error::kNone);
  std::array<char, 64> buffer{};
  std::size_t count = 0;
  bool cached = false;
  const SystemError error = file->ReadCached(0, buffer, count, cached);
  if (error == system_error::kNotSupported) GTEST_SKIP() << "no reads from memory alone here";
  ASSERT_EQ(error, system_error::kNone);
  EXPECT_TRUE(cached);
  EXPECT_EQ(std::string(buffer.data(), count), "just written");
  // A hint of reads to come changes nothing that is read.
  ASSERT_EQ(file->WillRead(), system_error::kNone);
  ASSERT_EQ(file->Read(5, buffer, count), system_error::kNone);
  EXPECT_EQ(std::string(buffer.data(), count), "written");
}

TEST(EnvTest, NewFilesRenamesAndRemovalsNeverGoThroughALink) {
  ScratchDirectory scratch;
  Env& env = Env::Default();
  const std::string outside = scratch.Write("outside", "keep");
  std::filesystem::create_symlink(outside, scratch / "link");
  std::filesystem::create_symlink(scratch / "absent", scratch / "dangling");

  FilePointer file;
  OpenOptions create_new{.access = Access::kWrite,
                         .creation = Creation::kCreateNew,
                         .follow_links = false,
                         .permissions = 0640};
  EXPECT_EQ(env.OpenFile(scratch / "link", create_new, file), system_error::kFileExists);
  EXPECT_EQ(env.OpenFile(scratch / "dangling", create_new, file), system_error::kFileExists);
  EXPECT_FALSE(std::filesystem::exists(scratch / "absent"));
  OpenOptions existing{.access = Access::kReadWrite, .follow_links = false};
  EXPECT_EQ(env.OpenFile(scratch / "link", existing, file), system_error::kBadPathName);

  FileStatus status;
  ASSERT_EQ(env.PathStatus(scratch / "link", false, status), system_error::kNone);
  EXPECT_EQ(status.type, FileType::kSymbolicLink);
  ASSERT_EQ(env.PathStatus(scratch / "link", true, status), system_error::kNone);
  EXPECT_EQ(status.type, FileType::kRegular);
  EXPECT_EQ(env.PathStatus(scratch / "no/such", false, status), system_error::kPathNotFound);

  const mode_t old_umask = umask(022);
  ASSERT_EQ(env.OpenFile(scratch / "new", create_new, file), system_error::kNone);
  umask(old_umask);
  ASSERT_EQ(file->Status(status), system_error::kNone);
  EXPECT_EQ(status.permissions, 0640u);
  ASSERT_EQ(file->SetPermissions(0604), system_error::kNone);
  ASSERT_EQ(file->Status(status), system_error::kNone);
  EXPECT_EQ(status.permissions, 0604u);
  ASSERT_EQ(file->Close(), system_error::kNone);

  ASSERT_EQ(env.Rename(scratch / "new", scratch / "link"), system_error::kNone);
  ASSERT_EQ(env.PathStatus(scratch / "link", false, status), system_error::kNone);
  EXPECT_EQ(status.type, FileType::kRegular);
  EXPECT_EQ(ReadAll(outside), "keep");
  ASSERT_EQ(env.Remove(scratch / "dangling"), system_error::kNone);
  EXPECT_EQ(env.Remove(scratch / "dangling"), system_error::kFileNotFound);
  EXPECT_EQ(env.Rename(scratch / "dangling", scratch / "x"), system_error::kFileNotFound);
}

TEST(EnvTest, CreatesFoldersOnTheWayAndKeepsThoseThere) {
  ScratchDirectory scratch;
  Env& env = Env::Default();
  EXPECT_EQ(env.MakeDirectory(scratch / "a/b", 0700), system_error::kPathNotFound);
  std::filesystem::create_directory(scratch / "real");
  std::filesystem::create_directory_symlink(scratch / "real", scratch / "link");

  const mode_t old_umask = umask(022);
  const std::string deep = scratch / "link/x//y/z/";
  EXPECT_EQ(MakeDirectories(env, deep, 0750), system_error::kNone);
  EXPECT_EQ(MakeDirectories(env, deep, 0750), system_error::kNone);
  umask(old_umask);
  EXPECT_EQ(std::filesystem::status(scratch / "real/x/y/z").permissions(),
            std::filesystem::perms(0750));
  EXPECT_TRUE(std::filesystem::is_symlink(scratch / "link"));

  EXPECT_EQ(env.MakeDirectory(scratch / "real", 0700), system_error::kFileExists);
  scratch.Write("file", "");
  EXPECT_EQ(MakeDirectories(env, scratch / "file/sub", 0700), system_error::kFileExists);
}

TEST(EnvTest, AFolderLockExcludesAnotherUntilTheFolderIsClosed) {
  ScratchDirectory scratch;
  std::unique_ptr<Directory> first;
  std::unique_ptr<Directory> second;
  ASSERT_EQ(Env::Default().OpenDirectory(scratch.path().string(), first), system_error::kNone);
  ASSERT_EQ(Env::Default().OpenDirectory(scratch.path().string(), second), system_error::kNone);
  ASSERT_EQ(first->Lock(Lock::kExclusive), system_error::kNone);
  EXPECT_EQ(second->Lock(Lock::kExclusive), system_error::kSharingViolation);
  first.reset();
  EXPECT_EQ(second->Lock(Lock::kExclusive), system_error::kNone);
}

// A file opened through its folder is the one its path names, or fails as an open of the path
// fails, whatever the name names.
TEST(FolderEnvTest, OpensWhatThePathOpensAndFailsAsItFails) {
  ScratchDirectory scratch;
  std::filesystem::create_directories(scratch / "zeb/sub");
  scratch.Write("zeb/file", "in the folder");
  scratch.Write("outside", "outside");
  std::filesystem::create_symlink("../outside", scratch / "zeb/link");
  std::filesystem::create_symlink("absent", scratch / "zeb/dangling");
  std::filesystem::create_symlink("loop", scratch / "zeb/loop");
  ASSERT_EQ(mkfifo((scratch / "zeb/fifo").c_str(), 0666), 0);
  const std::string folder = scratch / "zeb";
  const std::string names[] = {"file",
                               "link",
                               "absent",
                               "dangling",
                               "loop",
                               "fifo",
                               "sub",
                               "sub/none",
                               std::string(300, 'n'),
                               std::string("a\0b", 3)};

  const auto expect_same_opens = [&](Env& env) {
    for (const std::string& name : names) {
      for (const bool follow_links : {true, false}) {
        const OpenOptions options{.follow_links = follow_links};
        FilePointer by_path;
        FilePointer by_folder;
        const SystemError path_error =
            Env::Default().OpenFile(folder + "/" + name, options, by_path);
        EXPECT_EQ(env.OpenFile(folder + "/" + name, options, by_folder), path_error) << name;
        if (path_error != system_error::kNone) continue;
        FileStatus path_status;
        FileStatus folder_status;
        ASSERT_EQ(by_path->Status(path_status), system_error::kNone);
        ASSERT_EQ(by_folder->Status(folder_status), system_error::kNone);
        EXPECT_EQ(folder_status.inode, path_status.inode) << name;
      }
    }
  };
  FolderEnv in_folder(Env::Default(), folder);
  expect_same_opens(in_folder);
  FolderEnv without_folder(Env::Default(), scratch / "absent");
  expect_same_opens(without_folder);

  // A folder that has gone: what was in it is missing, and so is the folder itself.
  std::filesystem::rename(folder, scratch / "gone");
  FilePointer file;
  EXPECT_EQ(in_folder.OpenFile(folder + "/absent", OpenOptions{}, file),
            system_error::kPathNotFound);
}

TEST(SystemErrorOfTest, AnIoErrorIsAReadOrWriteFaultByWhatFailed) {
  EXPECT_EQ(SystemErrorOf(EIO, Operation::kRead), system_error::kReadFault);
  EXPECT_EQ(SystemErrorOf(EIO, Operation::kWrite), system_error::kWriteFault);
  EXPECT_EQ(SystemErrorOf(EIO, Operation::kClose), system_error::kWriteFault);
  EXPECT_EQ(SystemErrorOf(EIO, Operation::kOpen), system_error::kGeneralFailure);
  for (const int full : {ENOSPC, EDQUOT, EFBIG}) {
    EXPECT_EQ(SystemErrorOf(full, Operation::kWrite), system_error::kDiskFull) << full;
  }
  EXPECT_EQ(SystemErrorOf(EWOULDBLOCK, Operation::kLock), system_error::kSharingViolation);
}

TEST(DirectoryReaderTest, ListsEveryEntryAndFollowsLinks) {
  ScratchDirectory scratch;
  scratch.Write("file", "12345");
  std::filesystem::create_directory(scratch / "sub");
  std::filesystem::create_symlink("file", scratch / "link");
  std::filesystem::create_symlink("absent", scratch / "dangling");
  ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0666), 0);

  std::unique_ptr<Directory> reader;
  ASSERT_EQ(Env::Default().OpenDirectory(scratch.path().string(), reader), system_error::kNone);
  std::vector<std::string> names;
  for (bool found; reader->Next(found) == system_error::kNone && found;) {
    const std::string name(reader->name());
    names.push_back(name);
    FileStatus status;
    const SystemError error = reader->Status(status);
    // The type the directory records, where it records one, is the one the status tells;
    // a link's is never taken from the directory.
    FileType recorded;
    if (reader->RecordedType(recorded)) {
      EXPECT_EQ(recorded, status.type) << name;
      EXPECT_TRUE(name != "link" && name != "dangling") << name;
    }
    if (name == "file" || name == "link") {
      EXPECT_EQ(error, system_error::kNone);
      EXPECT_EQ(status.type, FileType::kRegular);
      EXPECT_EQ(status.size, 5u);
      EXPECT_TRUE(status.has_write_permission);
    } else if (name == "sub") {
      EXPECT_EQ(status.type, FileType::kDirectory);
    } else if (name == "fifo") {
      EXPECT_EQ(status.type, FileType::kOther);
    } else if (name == "dangling") {
      EXPECT_EQ(error, system_error::kFileNotFound);
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{".", "..", "dangling", "fifo", "file", "link", "sub"}));

  EXPECT_EQ(Env::Default().OpenDirectory(scratch / "absent", reader), system_error::kPathNotFound);
  EXPECT_EQ(reader, nullptr);
  EXPECT_NE(Env::Default().OpenDirectory(scratch / "file", reader), system_error::kNone);
}

TEST(ToLocalTimeTest, UsesTheProcessTimeZone) {
  setenv("TZ", "UTC-2", 1);  // two hours east of UTC
  tzset();
  CalendarTime local;
  ASSERT_TRUE(ToLocalTime(1709247599, local));  // 2024-02-29 22:59:59 UTC
  EXPECT_EQ(local.year, 2024);
  EXPECT_EQ(local.month, 3);
  EXPECT_EQ(local.day, 1);
  EXPECT_EQ(local.hour, 0);
  EXPECT_EQ(local.minute, 59);
  EXPECT_EQ(local.second, 59);
}

TEST(CurrentDirectoryTest, IsTheProcessWorkingDirectory) {
  std::string path;
  ASSERT_EQ(CurrentDirectory(path), system_error::kNone);
  EXPECT_EQ(std::filesystem::path(path), std::filesystem::current_path());
}

// A file listed inside a folder and swapped for a link that leads out is not opened beneath
// the folder; links that stay inside are, and everything else goes on as before.
TEST(BeneathEnvTest, NothingOutsideTheFolderIsOpenedThroughItsPaths) {
  ScratchDirectory scratch;
  std::filesystem::create_directories(scratch.path() / "kb/sub");
  scratch.Write("kb/sub/inside.html", "inside");
  scratch.Write("secret", "secret");
  std::filesystem::create_symlink(scratch.path() / "secret", scratch.path() / "kb/out.html");
  std::filesystem::create_symlink("sub/inside.html", scratch.path() / "kb/in.html");
  std::filesystem::create_symlink("../../secret", scratch.path() / "kb/sub/up.html");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path() / "kb");
  {
    BeneathEnv env(Env::Default());
    FilePointer file;
    EXPECT_EQ(env.OpenFile("./sub/inside.html", {}, file), system_error::kNone);
    EXPECT_EQ(env.OpenFile("./in.html", {}, file), system_error::kNone);
    std::filesystem::create_symlink(scratch.path() / "kb/sub/inside.html",
                                    scratch.path() / "kb/absolute.html");
    EXPECT_EQ(env.OpenFile("./absolute.html", {}, file), system_error::kNone);
    for (const char* outside : {"./out.html", "./sub/up.html", "./sub/../../secret"}) {
      EXPECT_EQ(env.OpenFile(outside, {}, file), system_error::kAccessDenied) << outside;
      EXPECT_EQ(file, nullptr);
    }
    EXPECT_EQ(env.OpenFile("./missing.html", {}, file), system_error::kFileNotFound);
    // Other paths, as the plain file system has them.
    EXPECT_EQ(env.OpenFile("../secret", {}, file), system_error::kNone);
  }
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace kb::platform

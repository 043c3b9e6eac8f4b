// The yardstick for kbsearch-cli: reads every file of the directory given (default ZEB) whole,
// with nothing but open, read and close, on one thread or on N, and prints how many files and
// bytes it read.
//
//   kbsearch_plain_read [-j N] [DIRECTORY]
//
// The names are read first, then the files, each whole by the next free thread: what a search
// that uses N threads cannot do faster. A measuring tool, not part of the program, so it calls
// the system directly.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Totals {
  std::atomic<unsigned long long> files{0};
  std::atomic<unsigned long long> bytes{0};
};

// Reads the files of `paths` whose turn `next` gives, until none is left.
void ReadFiles(const std::vector<std::string>& paths, std::atomic<std::size_t>& next,
               Totals& totals) {
  static thread_local char buffer[1 << 17];
  unsigned long long files = 0, bytes = 0;
  for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < paths.size();) {
    const int file = open(paths[i].c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) continue;
    for (ssize_t count; (count = read(file, buffer, sizeof buffer)) > 0;) bytes += count;
    close(file);
    ++files;
  }
  totals.files += files;
  totals.bytes += bytes;
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 1;
  std::string directory = "ZEB";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-j") == 0 && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
    } else {
      directory = argv[i];
    }
  }
  if (threads < 1) {
    std::fputs("usage: kbsearch_plain_read [-j N] [DIRECTORY]\n", stderr);
    return 2;
  }

  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) {
    std::perror(directory.c_str());
    return 2;
  }
  std::vector<std::string> paths;
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_name[0] != '.') paths.push_back(directory + "/" + entry->d_name);
  }
  closedir(listing);

  std::atomic<std::size_t> next{0};
  Totals totals;
  std::vector<std::thread> helpers;
  for (int i = 1; i < threads; ++i)
    helpers.emplace_back(ReadFiles, std::cref(paths), std::ref(next), std::ref(totals));
  ReadFiles(paths, next, totals);
  for (std::thread& helper : helpers) helper.join();
  std::printf("%llu files, %llu bytes\n", totals.files.load(), totals.bytes.load());
  return 0;
}

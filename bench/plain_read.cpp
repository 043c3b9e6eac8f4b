// The yardstick for kbsearch-cli: reads every file of the directory given (default ZEB) whole,
// with nothing but open, read and close, and prints how many files and bytes it read.
//
//   kbsearch_plain_read [DIRECTORY]
//
// A measuring tool, not part of the program, so it calls the system directly.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  const std::string directory = argc > 1 ? argv[1] : "ZEB";
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) {
    std::perror(directory.c_str());
    return 2;
  }
  static char buffer[1 << 17];
  unsigned long long files = 0, bytes = 0;
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_name[0] == '.') continue;
    const int file = open((directory + "/" + entry->d_name).c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) continue;
    for (ssize_t count; (count = read(file, buffer, sizeof buffer)) > 0;) bytes += count;
    close(file);
    ++files;
  }
  closedir(listing);
  std::printf("%llu files, %llu bytes\n", files, bytes);
  return 0;
}

// For tests: exchanges two entries of the current folder again and again, in one step each
// time (renameat2 with RENAME_EXCHANGE, so that each name always names one of the two):
// once, and again until the file named by the third argument exists or a minute has passed.
//
//   exchange_entries FIRST SECOND STOP_FILE

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: exchange_entries FIRST SECOND STOP_FILE\n");
    return 2;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  do {
    if (renameat2(AT_FDCWD, argv[1], AT_FDCWD, argv[2], RENAME_EXCHANGE) != 0) {
      std::perror("renameat2");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (access(argv[3], F_OK) != 0 && std::chrono::steady_clock::now() < end);
  return 0;
}

// Prints how long the file services take over a knowledge base of many small articles: the
// listing of the article directory, and reading every article whole through a block file,
// next to the same reading with the C library's plain fopen, fread and fclose.
//
//   kbsearch_file_services_bench [articles] [directory]
//
// Makes `articles` files (default 40,000) of 1 to 12 KiB in a new directory under
// `directory` (default the system's temporary directory), measures, and removes them.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "files/access_mode.h"
#include "files/block_file.h"
#include "files/directory_listing.h"
#include "support/error_state/error_state.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kArticleMode = kb::access_mode::kReadWrite | kb::access_mode::kDenyWrite;

std::string ArticleName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "ZEB%05d.htm", number);
  return name;
}

void MakeArticles(const std::filesystem::path& directory, int count) {
  std::filesystem::create_directories(directory);
  std::string text;
  for (int number = 0; number < count; ++number) {
    // Sizes spread from 1 to 12 KiB, so that most articles take one to three blocks.
    const std::size_t size = 1024 + static_cast<std::size_t>(number * 7919 % 11264);
    text.assign(size, 'x');
    text.replace(0, 23, "<!-- Article starts -->");
    std::ofstream(directory / ArticleName(number), std::ios::binary) << text;
  }
}

// Runs `pass` three times and prints the best time per article with what the pass counted.
void Measure(const char* what, const char* unit, int articles,
             const std::function<uint64_t()>& pass) {
  double best = 1e300;
  uint64_t bytes = 0;
  for (int run = 0; run < 3; ++run) {
    const Clock::time_point start = Clock::now();
    bytes = pass();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::printf("%-44s %8.1f ms  %6.2f us/article  %llu %s\n", what, best * 1e3,
              best * 1e6 / articles, static_cast<unsigned long long>(bytes), unit);
}

uint64_t ReadThroughBlockFile(const std::string& directory, int articles, const char* options) {
  kb::BlockFile file({.record_length = kb::kBlockSize, .options = options, .may_create = false});
  uint64_t bytes = 0;
  for (int number = 0; number < articles; ++number) {
    file.name().Assign(directory + "/" + ArticleName(number));
    file.Open(kArticleMode);
    if (kb::ErrorCode() != 0) std::abort();
    file.Set();
    for (file.Next(); kb::ErrorCode() == 0; file.Next()) bytes += file.last_count();
    file.Close();
  }
  return bytes;
}

uint64_t ReadPlainly(const std::string& directory, int articles) {
  static char buffer[kb::kBlockSize];
  uint64_t bytes = 0;
  for (int number = 0; number < articles; ++number) {
    std::FILE* file = std::fopen((directory + "/" + ArticleName(number)).c_str(), "rb");
    if (file == nullptr) std::abort();
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes += got;
    std::fclose(file);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const int articles = argc > 1 ? std::atoi(argv[1]) : 40000;
  const std::filesystem::path base =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
  const std::filesystem::path root = base / ("kbsearch-bench-" + std::to_string(std::rand()));
  const std::filesystem::path zeb = root / "ZEB";
  std::printf("making %d articles in %s\n", articles, zeb.c_str());
  MakeArticles(zeb, articles);
  const std::string directory = zeb.string();

  Measure("list ZEB/ZEB*.htm", "entries", articles, [&] {
    kb::Queue<kb::FileRecord> queue;
    kb::ListDirectory(queue, directory + "/ZEB*.htm", 0);
    return static_cast<uint64_t>(queue.Count());
  });
  Measure("read plainly (fopen, fread, fclose)", "bytes", articles,
          [&] { return ReadPlainly(directory, articles); });
  Measure("read blocks, /FILEBUFFERS=6 (one block)", "bytes", articles,
          [&] { return ReadThroughBlockFile(directory, articles, "/FILEBUFFERS=6"); });
  Measure("read blocks, /FILEBUFFERS=24 (three blocks)", "bytes", articles,
          [&] { return ReadThroughBlockFile(directory, articles, "/FILEBUFFERS=24"); });

  std::filesystem::remove_all(root);
  return 0;
}

// Repeat scans as the window's searches make them, with the article index kept open and its watch
// on ZEB, against the same searches reading every article and against a plain read of every
// article on one thread (open, read, close: kbsearch_plain_read -j 1), alternating, in one
// process:
//
//     kbsearch_kept_index_bench KB_DIR [RUNS]
//
// The index must exist (kbsearch-cli --index, in the same XDG_CACHE_HOME). Prints the median
// of each phrase's searches and its ratio to the plain read's, which is held to at most 0.10;
// the first search through the index, which checks every article's status, is not counted.
// A measuring tool: the plain read calls the system directly.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/index/article_index.h"
#include "app/scan/scan.h"

namespace {

// Takes the scan's findings and shows none.
class QuietSink : public kb::ScanSink {
 public:
  void ReportFailure(const kb::Failure&) override {}
  void ScanStarted(int32_t) override {}
  void ArticleDone(std::string_view, kb::ArticleOutcome&) override {}
};

double SearchMs(const char* phrase, kb::ArticleFilter* filter) {
  QuietSink sink;
  const auto start = std::chrono::steady_clock::now();
  kb::ScanKnowledgeBase(kb::platform::Env::Default(),
                        {.phrase = phrase, .threads = kb::DefaultScanThreads(), .filter = filter},
                        sink);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// What a window's search through the index is held to, against the plain read.
constexpr double kKeptMost = 0.10;

double PlainReadMs() {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> paths;
  if (DIR* listing = opendir("ZEB")) {
    while (const dirent* entry = readdir(listing)) {
      if (entry->d_name[0] != '.') paths.push_back(std::string("ZEB/") + entry->d_name);
    }
    closedir(listing);
  }
  static char buffer[1 << 17];
  for (const std::string& path : paths) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) continue;
    while (read(file, buffer, sizeof buffer) > 0) {
    }
    close(file);
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: kbsearch_kept_index_bench KB_DIR [RUNS]\n", stderr);
    return 2;
  }
  std::filesystem::current_path(argv[1]);
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  kb::index::ArticleIndex index({.watch = true});
  std::printf("first search through the kept index (every status checked): %.1f ms\n",
              SearchMs("zzqqxx", &index));
  for (const char* phrase : {"unsafe pointer", "zzqqxx", "&mut self", "<div class=\"docblock\">"}) {
    std::vector<double> kept;
    std::vector<double> full;
    std::vector<double> plain;
    for (int run = 0; run < runs; ++run) {
      kept.push_back(SearchMs(phrase, &index));
      full.push_back(SearchMs(phrase, nullptr));
      plain.push_back(PlainReadMs());
    }
    const kb::index::IndexUse use = index.last_use();
    const double ratio = Median(kept) / Median(plain);
    std::printf(
        "  %-26s kept index %7.1f ms (%s, %d read)   every article %7.1f ms   plain read, 1 "
        "thread %7.1f ms   %.3f of the plain read%s\n",
        phrase, Median(kept), use.reason.empty() ? "used" : std::string(use.reason).c_str(),
        use.articles_read, Median(full), Median(plain), ratio,
        use.articles_read > 100 ? ""
        : ratio <= kKeptMost    ? " (ok)"
                                : " (MISSED)");
  }
  return 0;
}

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
// Then where a search through the index goes, in medians of the same runs: the index's choice
// of the articles to read, the scan's listing alone (timed apart, right after the search),
// the rest of the scan (reading the chosen articles, handing every outcome over), and as the
// listing's floor a plain getdents64 loop over ZEB with a 1 MiB buffer.
// A measuring tool: the plain read and the plain listing call the system directly.

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/index/article_index.h"
#include "app/scan/scan.h"
#include "files/directory_listing.h"

namespace {

// Takes the scan's findings and shows none.
class QuietSink : public kb::ScanSink {
 public:
  void ReportFailure(const kb::Failure&) override {}
  void ScanStarted(int32_t) override {}
  void ArticleDone(std::string_view, kb::ArticleOutcome&) override {}
};

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Passes the scan's questions on to the index, timing its choice.
class TimedFilter : public kb::ArticleFilter {
 public:
  explicit TimedFilter(kb::ArticleFilter& index) : index_(index) {}

  void Prepare(const kb::Query& query, const kb::MatchSettings& settings) override {
    index_.Prepare(query, settings);
  }
  void ChooseArticles(std::span<const std::string_view> names, const kb::Query& query,
                      const kb::MatchSettings& settings, std::size_t threads,
                      std::vector<char>& must_read, kb::PlacesToLook& places) override {
    const Clock::time_point start = Clock::now();
    index_.ChooseArticles(names, query, settings, threads, must_read, places);
    choice_ms = MsSince(start);
  }

  double choice_ms = 0;

 private:
  kb::ArticleFilter& index_;
};

double ListingMs() {
  const Clock::time_point start = Clock::now();
  kb::ListedPaths paths;
  kb::ListPaths(paths, kb::kArticlePattern, kb::kArticlePathPrefix, 0);
  return MsSince(start);
}

// Lists ZEB with getdents64 and nothing else: the least a listing costs.
double PlainListingMs() {
  const Clock::time_point start = Clock::now();
  const int folder = open("ZEB", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    static char entries[1 << 20];
    while (syscall(SYS_getdents64, folder, entries, sizeof entries) > 0) {
    }
    close(folder);
  }
  return MsSince(start);
}

double SearchMs(const char* phrase, kb::ArticleFilter* filter) {
  QuietSink sink;
  kb::ScanRequest request;
  request.query = kb::Query::Phrase(phrase);
  request.threads = kb::DefaultScanThreads();
  request.filter = filter;
  const auto start = std::chrono::steady_clock::now();
  kb::ScanKnowledgeBase(kb::platform::Env::Default(), request, sink);
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
  TimedFilter timed(index);
  for (const char* phrase : {"unsafe pointer", "zzqqxx", "&mut self", "<div class=\"docblock\">"}) {
    std::vector<double> kept;
    std::vector<double> full;
    std::vector<double> plain;
    std::vector<double> choice;
    std::vector<double> listing;
    std::vector<double> rest;
    std::vector<double> plain_listing;
    for (int run = 0; run < runs; ++run) {
      kept.push_back(SearchMs(phrase, &timed));
      choice.push_back(timed.choice_ms);
      listing.push_back(ListingMs());
      rest.push_back(kept.back() - choice.back() - listing.back());
      plain_listing.push_back(PlainListingMs());
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
    std::printf(
        "  %-26s   choice %5.1f ms   listing %5.1f ms   the rest %5.1f ms   plain getdents64 "
        "loop %5.1f ms\n",
        "", Median(choice), Median(listing), Median(rest), Median(plain_listing));
  }
  return 0;
}

// Times the scan of a knowledge base with each way of matching against the plain byte search,
// in the same run: for each phrase given, rounds of one scan per way, alternating, each in a
// process of its own so that its peak memory is its own. Prints, for each way, the median
// wall time and processor time (user and system) of its scans and their ratios to the byte
// search's, its peak resident memory and the articles it found, and the load average before
// and after. On a machine that other work shares, the processor time is the steadier figure.
//
//   kbsearch_match_bench KB_DIR [--rounds N] [--threads N] PHRASE...
//
// The scans read with one thread unless told more (--threads), so that the ratios compare the
// work each way does for an article.
//
// KB_DIR holds ZEB/ZEB*.htm (bench/make_knowledge_base.py makes one). A measuring tool, not
// part of the program, so it calls the system directly.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/scan/scan.h"

namespace {

// Counts what the scan finds and prints its failures.
class CountingSink : public kb::ScanSink {
 public:
  void ReportFailure(const kb::Failure& failure) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(failure.text.size()), failure.text.data());
  }
  void ScanStarted(int32_t) override {}
  void ArticleDone(std::string_view, kb::ArticleOutcome& outcome) override {
    if (outcome.matched) ++found;
  }

  int32_t found = 0;
};

struct Way {
  const char* name;
  kb::MatchSettings settings;
};

std::vector<Way> Ways() {
  kb::MatchSettings pairs;
  pairs.case_table[0xE9] = 0xC9;
  return {
      {"bytes", {}},
      {"case pairs", pairs},
      {"unicode", {.case_folding = kb::CaseFolding::kUnicode}},
      {"accents", {.ignore_accents = true}},
      {"text", {.mode = kb::MatchMode::kText}},
      {"text+accents", {.ignore_accents = true, .mode = kb::MatchMode::kText}},
  };
}

struct Measure {
  double seconds = 0;
  double processor_seconds = 0;
  long peak_kib = 0;
  int32_t found = 0;
};

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

// One scan in a child process.
Measure ScanOnce(const std::string& phrase, const kb::MatchSettings& settings,
                 std::size_t threads) {
  int channel[2];
  if (pipe(channel) != 0) std::exit(2);
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    CountingSink sink;
    const auto start = std::chrono::steady_clock::now();
    kb::ScanKnowledgeBase(
        kb::platform::Env::Default(),
        {.query = kb::Query::Phrase(phrase), .match_settings = settings, .threads = threads}, sink);
    Measure measure;
    measure.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure.found = sink.found;
    const bool written = write(channel[1], &measure, sizeof measure) == sizeof measure;
    _exit(written ? 0 : 2);
  }
  close(channel[1]);
  Measure measure;
  const bool read_whole = read(channel[0], &measure, sizeof measure) == sizeof measure;
  close(channel[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (!read_whole || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a scan failed\n");
    std::exit(2);
  }
  measure.peak_kib = usage.ru_maxrss;
  measure.processor_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  return measure;
}

std::string LoadAverage() {
  std::string one, five, fifteen;
  std::ifstream("/proc/loadavg") >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> phrases;
  int rounds = 5;
  std::size_t threads = 1;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::string(argv[i]) == "--threads" && i + 1 < argc) {
      threads = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
    } else {
      phrases.push_back(argv[i]);
    }
  }
  if (argc < 2 || phrases.empty() || chdir(argv[1]) != 0) {
    std::fprintf(stderr,
                 "usage: kbsearch_match_bench KB_DIR [--rounds N] [--threads N] PHRASE...\n");
    return 2;
  }

  const std::vector<Way> ways = Ways();
  std::printf("%s, %d rounds, %zu threads; load average %s\n", argv[1], rounds, threads,
              LoadAverage().c_str());
  for (const std::string& phrase : phrases) {
    for (const Way& way : ways) ScanOnce(phrase, way.settings, threads);  // warm the cache
    std::vector<std::vector<double>> times(ways.size());
    std::vector<std::vector<double>> processor_times(ways.size());
    std::vector<Measure> last(ways.size());
    std::vector<long> peaks(ways.size(), 0);
    for (int round = 0; round < rounds; ++round) {
      for (std::size_t way = 0; way < ways.size(); ++way) {
        last[way] = ScanOnce(phrase, ways[way].settings, threads);
        times[way].push_back(last[way].seconds);
        processor_times[way].push_back(last[way].processor_seconds);
        peaks[way] = std::max(peaks[way], last[way].peak_kib);
      }
    }
    const double bytes = Median(times[0]);
    const double bytes_processor = Median(processor_times[0]);
    std::printf("\nphrase \"%s\"\n%-14s %8s %6s %8s %6s %13s %6s\n", phrase.c_str(), "way",
                "wall ms", "ratio", "cpu ms", "ratio", "peak RSS KiB", "found");
    for (std::size_t way = 0; way < ways.size(); ++way) {
      const double median = Median(times[way]);
      const double processor = Median(processor_times[way]);
      std::printf("%-14s %8.1f %6.2f %8.1f %6.2f %13ld %6d\n", ways[way].name, median * 1e3,
                  median / bytes, processor * 1e3, processor / bytes_processor, peaks[way],
                  last[way].found);
    }
  }
  std::printf("\nload average after: %s\n", LoadAverage().c_str());
  return 0;
}

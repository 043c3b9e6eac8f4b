// Random knowledge bases put through random changes between searches: every search that may
// use the article index gives, to the byte, what the same search gives with --no-index (the
// page, standard output, standard error and exit status, and the JSON lines but for the
// elapsed time, the index's state and the count of articles read). Half of them are trees of
// articles in nested folders (`Articles = ZEB/**/*.htm`), whose folders are changed too.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

namespace fs = std::filesystem;
using kb::testing::Quote;
using kb::testing::ReadAll;
using kb::testing::WriteFile;

struct Outcome {
  int status = 0;
  std::string out;
  std::string err;
  std::string page;
};

class IndexDifferentialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CACHE_HOME", (scratch_.path() / "cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch_.path() / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (scratch_.path() / "system-config").c_str(), 1);
    unsetenv("KBSEARCH_ENV");
    WriteFile(scratch_.path() / "pairs.env", "CasePairs = E9C9\n");
  }

  Outcome Run(const fs::path& kb, const std::string& arguments) {
    const fs::path out = scratch_.path() / "out";
    const fs::path err = scratch_.path() / "err";
    fs::remove(kb / "ZebResult.htm");
    const std::string command = std::string(KBSEARCH_CLI) + " -C " + Quote(kb.string()) + " " +
                                arguments + " >" + out.string() + " 2>" + err.string();
    const int status = std::system(command.c_str());
    return {.status = WEXITSTATUS(status),
            .out = ReadAll(out.string()),
            .err = ReadAll(err.string()),
            .page = ReadAll((kb / "ZebResult.htm").string())};
  }

  // The JSON lines of a run with the index's own fields left out; counts what the index spared.
  std::string Comparable(const std::string& lines, bool& used, int& spared) {
    std::string ignored;
    return Comparable(lines, used, spared, ignored);
  }
  std::string Comparable(const std::string& lines, bool& used, int& spared, std::string& reason) {
    std::istringstream in(lines);
    std::string line;
    std::string kept;
    while (std::getline(in, line)) {
      nlohmann::json object = nlohmann::json::parse(line);
      if (object.at("type") == "summary") {
        nlohmann::json& data = object.at("data");
        used = data.at("index").at("state") == "used";
        reason = data.at("index").at("reason").is_null() ? "used" : data.at("index").at("reason");
        spared = data.at("stats").at("articles_opened").get<int>() -
                 data.at("stats").at("articles_read").get<int>();
        data.erase("elapsed_total");
        data.erase("index");
        data.at("stats").erase("articles_read");
      }
      kept += object.dump() + "\n";
    }
    return kept;
  }

  kb::testing::ScratchDirectory scratch_;
};

constexpr const char* kWords[] = {"printer",
                                  "Printer",
                                  "PRINTER",
                                  "unsafe pointer",
                                  "zzqq",
                                  "caf\xE9",
                                  "CAF\xC9",
                                  "&amp;",
                                  "<b>bold</b>",
                                  "fish & chips",
                                  "a",
                                  "ab",
                                  "x y",
                                  "  ",
                                  "\t",
                                  "<!-- Article starts -->",
                                  "&eacute;t\xE9",
                                  "<script>printer</script>",
                                  "<title>Printer guide</title>",
                                  "<h1>unsafe pointers</h1>",
                                  "\n"};

// Now and then long enough that the index keeps its grams by several stretches, which a
// phrase may straddle; half of those are mostly filler, so that a phrase lies in few of their
// stretches, and only those are read first.
std::string RandomArticle(std::mt19937& random) {
  std::string bytes;
  const bool sparse = random() % 2 == 0;
  const int words = static_cast<int>(random() % 8 == 0 ? 2000 + random() % 4000 : random() % 40);
  for (int word = 0; word < words; ++word) {
    bytes += words >= 2000 && sparse && random() % 64 != 0 ? "lorem"
                                                           : kWords[random() % std::size(kWords)];
    bytes += random() % 3 == 0 ? "" : " ";
  }
  return bytes;
}

std::string RandomPhrase(std::mt19937& random) {
  constexpr const char* kPhrases[] = {"printer",      "unsafe pointer", "zzqqxx", "caf\xE9",
                                      "fish & chips", "bold",           "ab",     "t\xC9",
                                      "<b>bold",      "Article starts", "r P",    "amp;"};
  return kPhrases[random() % std::size(kPhrases)];
}

TEST_F(IndexDifferentialTest, SearchesWithTheIndexAreSearchesWithout) {
  std::mt19937 random(static_cast<unsigned>(std::random_device{}()));
  const unsigned seed = random();
  random.seed(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  constexpr int kKnowledgeBases = 6;
  std::vector<fs::path> bases;
  const fs::path outside = scratch_.path() / "outside";
  fs::create_directories(outside);
  WriteFile(outside / "one.htm", "<!-- Article starts -->printer one");
  WriteFile(outside / "two.htm", "<!-- Article starts -->nothing here");
  const auto is_tree = [](const fs::path& kb) { return fs::exists(kb / "kbsearch.env"); };
  for (int base = 0; base < kKnowledgeBases; ++base) {
    const fs::path kb = scratch_.path() / ("kb" + std::to_string(base));
    const bool tree = base % 2 == 1;
    fs::create_directories(kb / "ZEB" / "sub one" / "two");
    WriteFile(kb / "lheader.htm", "<html>\r\n");
    WriteFile(kb / "lfooter.htm", "</html>\r\n");
    if (tree) WriteFile(kb / "kbsearch.env", "Articles = ZEB/**/*.htm\n");
    const int articles = 3 + static_cast<int>(random() % 25);
    for (int article = 0; article < articles; ++article) {
      const fs::path folder = article % 3 == 0   ? kb / "ZEB"
                              : article % 3 == 1 ? kb / "ZEB" / "sub one"
                                                 : kb / "ZEB" / "sub one" / "two";
      WriteFile(folder / ("ZEB" + std::to_string(article) + ".htm"), RandomArticle(random));
    }
    fs::create_symlink(outside / "one.htm", kb / "ZEB" / "ZEBlink.htm");
    bases.push_back(kb);
  }
  // Articles younger than the index's unsure span are read whatever it says.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  // A build reads every article; building again at once reads none.
  for (const fs::path& kb : bases) {
    // A tree leaves out the link that leads out of the knowledge base.
    long listed = 0;
    if (is_tree(kb)) {
      for (const auto& entry : fs::recursive_directory_iterator(kb / "ZEB")) {
        listed += entry.is_regular_file() && !entry.is_symlink();
      }
    } else {
      for (const auto& entry : fs::directory_iterator(kb / "ZEB")) {
        listed += entry.is_regular_file();
      }
    }
    for (const long read : {static_cast<long>(listed), 0L}) {
      const Outcome built = Run(kb, "--index --json");
      ASSERT_EQ(built.status, 0) << built.err;
      const nlohmann::json summary = nlohmann::json::parse(built.out).at("data");
      EXPECT_EQ(summary.at("index"), nlohmann::json({{"state", "built"}, {"reason", nullptr}}));
      EXPECT_EQ(summary.at("stats").at("articles_listed"), listed);
      EXPECT_EQ(summary.at("stats").at("articles_read"), read);
    }
  }

  int searches_using_index = 0;
  int tree_searches_using_index = 0;
  std::map<std::string, int> reasons;
  int articles_spared = 0;
  for (int step = 0; step < 25; ++step) {
    for (const fs::path& kb : bases) {
      const fs::path zeb = kb / "ZEB";
      std::vector<fs::path> articles;
      std::vector<fs::path> folders{zeb};
      for (const auto& entry : fs::recursive_directory_iterator(zeb)) {
        articles.push_back(entry.path());
        if (entry.is_directory() && !entry.is_symlink()) folders.push_back(entry.path());
      }
      std::sort(articles.begin(), articles.end());
      std::sort(folders.begin(), folders.end());
      const fs::path folder = folders[random() % folders.size()];
      const fs::path some =
          articles.empty() ? zeb / "ZEBnew.htm" : articles[random() % articles.size()];
      int held_lock = -1;
      const fs::path cache = scratch_.path() / "cache" / "kbsearch";
      std::vector<fs::path> index_files;
      if (fs::exists(cache)) {
        for (const auto& entry : fs::directory_iterator(cache)) {
          if (entry.path().extension() == ".db") index_files.push_back(entry.path());
        }
      }
      switch (random() % 26) {
        case 0: {  // same size, other bytes, the modification time put back
          if (!fs::is_regular_file(some)) break;
          const auto before = fs::last_write_time(some);
          std::string bytes = ReadAll(some.string());
          for (char& byte : bytes) byte = byte == 'r' ? 'R' : byte == 'p' ? 'z' : byte;
          WriteFile(some, bytes);
          std::error_code ignored;
          fs::last_write_time(some, before, ignored);
          break;
        }
        case 1:
          std::ofstream(some, std::ios::app) << kWords[random() % std::size(kWords)];
          break;
        case 2: {
          std::error_code ignored;
          fs::resize_file(some, fs::file_size(some, ignored) / 2, ignored);
          break;
        }
        case 3: {
          std::error_code ignored;
          fs::rename(some, zeb / ("ZEB" + std::to_string(random() % 40) + ".htm"), ignored);
          break;
        }
        case 4: {
          std::error_code ignored;
          fs::remove_all(some, ignored);
          break;
        }
        case 5:
          WriteFile(folder / ("ZEB" + std::to_string(random() % 40) + "n.htm"),
                    RandomArticle(random));
          break;
        case 6:
          chmod(some.c_str(), (random() % 2) ? 0 : 0644);
          break;
        case 7:  // an exclusive lock held while the searches run
          held_lock = open(some.c_str(), O_RDONLY | O_CLOEXEC);
          if (held_lock >= 0) flock(held_lock, LOCK_EX | LOCK_NB);
          break;
        case 8: {
          std::error_code ignored;
          fs::remove(zeb / "ZEBlink.htm", ignored);
          fs::create_symlink(outside / ((random() % 2) ? "one.htm" : "two.htm"),
                             zeb / "ZEBlink.htm", ignored);
          break;
        }
        case 9: {
          std::error_code ignored;
          fs::remove_all(some, ignored);
          fs::create_directory(some, ignored);
          break;
        }
        case 10: {  // ZEB renamed and made again with the same articles
          const fs::path old = kb / "ZEB.old";
          fs::remove_all(old);
          fs::rename(zeb, old);
          fs::create_directory(zeb);
          for (const auto& entry : fs::directory_iterator(old)) {
            std::error_code ignored;
            fs::copy(entry.path(), zeb / entry.path().filename(), fs::copy_options::copy_symlinks,
                     ignored);
          }
          break;
        }
        case 11:
          for (const fs::path& file : index_files) {
            fs::resize_file(file, fs::file_size(file) / 2);
          }
          break;
        case 12:
          for (const fs::path& file : index_files) {
            std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
            bytes.seekp(static_cast<std::streamoff>(random() % fs::file_size(file)));
            bytes.write("\xFF\x00\x13\x37", 4);
          }
          break;
        case 13:
          for (const fs::path& file : index_files) {
            if (geteuid() == 0) {
              if (chown(file.c_str(), 65534, 65534) != 0) ADD_FAILURE() << "chown";
            } else {
              chmod(file.c_str(), 0644);
            }
          }
          break;
        case 14:
          for (const fs::path& file : index_files) chmod(file.c_str(), 0640);
          break;
        case 15: {  // a new sub-folder, with a name of spaces, and an article in it
          const fs::path made = folder / ("new " + std::to_string(random() % 5));
          std::error_code ignored;
          fs::create_directories(made, ignored);
          WriteFile(made / "ZEB1.htm", RandomArticle(random));
          break;
        }
        case 16: {  // a folder renamed beside itself, or the same name in another folder
          if (folder == zeb) break;
          std::error_code ignored;
          const fs::path to = folders[random() % folders.size()] / folder.filename();
          fs::rename(folder, (random() % 2) ? folder.parent_path() / "renamed" : to, ignored);
          break;
        }
        default:
          ASSERT_EQ(Run(kb, "--index").status, 0);
          break;
      }

      const std::string phrase = Quote(RandomPhrase(random));
      std::string mode = (random() % 2) ? "--match text " : "";
      if (random() % 3 == 0) mode += "--settings " + (scratch_.path() / "pairs.env").string() + " ";
      // Ranked by relevance, the order too is the same: its mean length is the found articles'.
      if (random() % 3 == 0) mode += (random() % 2) ? "--order relevance " : "--order hits ";
      if (random() % 3 == 0) mode += "--results snippets ";
      const std::string threads = (random() % 2) ? "-j 1 " : "";
      const Outcome indexed = Run(kb, mode + threads + phrase);
      const Outcome scanned = Run(kb, mode + threads + "--no-index " + phrase);
      const std::string what = kb.string() + " " + mode + threads + phrase;
      ASSERT_EQ(indexed.status, scanned.status) << what;
      ASSERT_EQ(indexed.out, scanned.out) << what;
      ASSERT_EQ(indexed.err, scanned.err) << what;
      ASSERT_EQ(indexed.page, scanned.page) << what;

      const Outcome indexed_json = Run(kb, "-l --json " + mode + threads + phrase);
      const Outcome scanned_json = Run(kb, "-l --json --no-index " + mode + threads + phrase);
      bool used = false;
      bool ignored_used = false;
      int spared = 0;
      int ignored_spared = 0;
      std::string reason;
      ASSERT_EQ(Comparable(indexed_json.out, used, spared, reason),
                Comparable(scanned_json.out, ignored_used, ignored_spared))
          << what;
      ASSERT_EQ(indexed_json.err, scanned_json.err) << what;
      ASSERT_EQ(indexed_json.status, scanned_json.status) << what;
      searches_using_index += used;
      tree_searches_using_index += used && is_tree(kb);
      ++reasons[reason];
      articles_spared += spared;
      if (held_lock >= 0) close(held_lock);
    }
  }
  // The index was used, and spared reading, not merely consulted. How many articles it spares
  // depends on the knowledge bases drawn: 30 to 45 in one run of twenty, far more mostly.
  std::string tally;
  for (const auto& [reason, count] : reasons) tally += reason + ": " + std::to_string(count) + "\n";
  EXPECT_GT(searches_using_index, 10) << tally;
  EXPECT_GT(tree_searches_using_index, 3) << tally;
  EXPECT_GT(articles_spared, 10) << tally;
}

}  // namespace
}  // namespace kb

// kbsearch-server from outside, over real connections: its answers against kbsearch-cli's on
// random knowledge bases under random changes, and its answers to hostile requests.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/url_text.h"
#include "support/testing/scratch_directory.h"

namespace kb::server {
namespace {

namespace fs = std::filesystem;
using kb::testing::ReadAll;

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

std::string Quote(std::string_view text) {
  std::string quoted = "'";
  for (char byte : text) quoted += byte == '\'' ? std::string("'\\''") : std::string(1, byte);
  return quoted + "'";
}

// A connection to the server from `source` (a loopback address).
int Connect(uint16_t port, const char* source = "127.0.0.1") {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {}, .sin_zero = {}};
  inet_pton(AF_INET, source, &local.sin_addr);
  ::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local);
  sockaddr_in address{
      .sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {}, .sin_zero = {}};
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(socket);
    return -1;
  }
  return socket;
}

struct Answer {
  int status = 0;  // 0: the connection closed without one
  std::string head;
  std::string body;
};

// Sends `request` as it is and reads the answer to the connection's end (each request asks
// for the connection to be closed).
Answer Exchange(uint16_t port, std::string_view request, const char* source = "127.0.0.1") {
  const int socket = Connect(port, source);
  if (socket < 0) return {};
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t count =
        ::send(socket, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) break;
    sent += static_cast<std::size_t>(count);
  }
  std::string bytes;
  char buffer[65536];
  pollfd wait{.fd = socket, .events = POLLIN, .revents = 0};
  while (::poll(&wait, 1, 20000) > 0) {
    const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
    if (count <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(socket);
  Answer answer;
  const std::size_t end = bytes.find("\r\n\r\n");
  if (!bytes.starts_with("HTTP/1.") || end == std::string::npos) return answer;
  answer.status = std::atoi(bytes.c_str() + 9);
  answer.head = bytes.substr(0, end);
  answer.body = bytes.substr(end + 4);
  return answer;
}

Answer Get(uint16_t port, std::string_view target, std::string_view extra = {},
           const char* source = "127.0.0.1") {
  return Exchange(port,
                  "GET " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                      std::string(extra) + "Connection: close\r\n\r\n",
                  source);
}

// kbsearch-server on a port the system chooses, stopped with SIGTERM when it goes.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& arguments) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      std::vector<char*> argv{const_cast<char*>(KBSEARCH_SERVER)};
      for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      ::execv(KBSEARCH_SERVER, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char byte = 0;
    while (::read(out[0], &byte, 1) == 1 && byte != '\n') line += byte;
    ::close(out[0]);
    url_ = line;
    const std::size_t colon = line.rfind(':');
    if (colon != std::string::npos)
      port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
  }
  ~ServerProcess() {
    if (pid_ > 0) Stop();
  }

  uint16_t port() const { return port_; }
  const std::string& url() const { return url_; }

  // SIGTERM; the exit status, and how long the server took to end.
  int Stop(std::chrono::milliseconds* took = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (took != nullptr) {
      *took = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string url_;
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CACHE_HOME", (scratch_.path() / "cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch_.path() / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (scratch_.path() / "system-config").c_str(), 1);
    unsetenv("KBSEARCH_ENV");
  }

  fs::path MakeKnowledgeBase(std::string_view name) {
    const fs::path kb = scratch_.path() / name;
    fs::create_directories(kb / "ZEB");
    WriteFile(kb / "lheader.htm", "<html>HEADER\r\n");
    WriteFile(kb / "lfooter.htm", "FOOTER</html>\r\n");
    return kb;
  }

  kb::testing::ScratchDirectory scratch_;
};

// What kbsearch-cli --json prints, as the API gathers it; nothing of the elapsed time or the
// index.
nlohmann::json Comparable(nlohmann::json answer) {
  nlohmann::json& summary = answer.at("summary");
  summary.erase("elapsed_total");
  summary.erase("index");
  summary.at("stats").erase("articles_read");
  return answer;
}

nlohmann::json CliAnswer(const fs::path& kb, const std::string& phrase, const fs::path& scratch) {
  const fs::path out = scratch / "cli.out";
  const std::string command = std::string(KBSEARCH_CLI) + " -C " + Quote(kb.string()) +
                              " --no-index --json --results snippets -l -- " + Quote(phrase) +
                              " >" + out.string() + " 2>/dev/null";
  static_cast<void>(std::system(command.c_str()));
  nlohmann::json answer = {{"matches", nlohmann::json::array()},
                           {"errors", nlohmann::json::array()}};
  std::istringstream lines(ReadAll(out.string()));
  std::string line;
  while (std::getline(lines, line)) {
    nlohmann::json object = nlohmann::json::parse(line);
    if (object.at("type") == "match") answer["matches"].push_back(object.at("data"));
    if (object.at("type") == "error") answer["errors"].push_back(object.at("data"));
    if (object.at("type") == "summary") answer["summary"] = object.at("data");
  }
  return answer;
}

constexpr const char* kWords[] = {"printer",
                                  "Printer",
                                  "unsafe pointer",
                                  "zzqq",
                                  "caf\xE9",
                                  "<b>bold</b>",
                                  "fish &amp; chips",
                                  "a",
                                  "x y",
                                  "\n",
                                  "<title>Printer setup</title>",
                                  "<p>",
                                  "ab"};

std::string RandomArticle(std::mt19937& random) {
  std::string bytes = random() % 6 == 0 ? "" : "<!-- Article starts -->";
  const int words = static_cast<int>(random() % 60);
  for (int word = 0; word < words; ++word) {
    bytes += kWords[random() % std::size(kWords)];
    bytes += random() % 3 == 0 ? "" : " ";
  }
  return bytes;
}

TEST_F(ServerTest, AnswersAreThoseOfTheConsoleAtThatMoment) {
  std::mt19937 random(static_cast<unsigned>(std::random_device{}()));
  const unsigned seed = random();
  random.seed(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  constexpr const char* kPhrases[] = {
      "printer", "unsafe pointer", "zzqqxx", "caf\xE9", "bold", "ab", "fish & chips",
      "r p",     "PRINTER SETUP",  "a",      "<p>"};
  int used = 0;
  std::size_t matched = 0;
  for (int base = 0; base < 3; ++base) {
    const fs::path kb = MakeKnowledgeBase("kb" + std::to_string(base));
    const fs::path zeb = kb / "ZEB";
    const int articles = 2 + static_cast<int>(random() % 30);
    for (int article = 0; article < articles; ++article) {
      WriteFile(zeb / ("ZEB" + std::to_string(article) + ".htm"), RandomArticle(random));
    }
    if (base == 1) WriteFile(kb / "kbsearch.env", "Match = text\n");
    ServerProcess server({"-C", kb.string(), "0"});
    ASSERT_NE(server.port(), 0);
    for (int step = 0; step < 20; ++step) {
      std::vector<fs::path> present;
      for (const auto& entry : fs::directory_iterator(zeb)) present.push_back(entry.path());
      std::sort(present.begin(), present.end());
      const fs::path some =
          present.empty() ? zeb / "ZEBnew.htm" : present[random() % present.size()];
      switch (random() % 6) {
        case 0:  // rewritten
          WriteFile(some, RandomArticle(random));
          break;
        case 1:  // a new one
          WriteFile(zeb / ("ZEB" + std::to_string(100 + step) + ".htm"), RandomArticle(random));
          break;
        case 2:  // removed
          fs::remove(some);
          break;
        case 3:  // renamed over another, or to a new name
          if (fs::exists(some))
            fs::rename(some, zeb / ("ZEB" + std::to_string(random() % 40) + ".htm"));
          break;
        case 4:  // appended to
          std::ofstream(some, std::ios::binary | std::ios::app) << " printer";
          break;
        default:  // unchanged
          break;
      }
      // A change counts once complete plus a moment.
      std::this_thread::sleep_for(std::chrono::milliseconds(120));
      const std::string phrase = kPhrases[random() % std::size(kPhrases)];
      const Answer answer =
          Get(server.port(), "/api/search?limit=1000&q=" + PercentEncodePath(phrase));
      ASSERT_EQ(answer.status, 200) << answer.body;
      const nlohmann::json served = nlohmann::json::parse(answer.body);
      if (served.at("summary").at("index").at("state") == "used") ++used;
      matched += served.at("matches").size();
      const nlohmann::json expected = CliAnswer(kb, phrase, scratch_.path());
      ASSERT_EQ(Comparable(served), Comparable(expected)) << "step " << step << ", " << phrase;

      // A page of them: the same matches, the same summary.
      const std::size_t total = served.at("matches").size();
      const std::size_t offset = random() % (total + 2);
      const std::size_t limit = random() % 4;
      const Answer page = Get(server.port(), "/api/search?q=" + PercentEncodePath(phrase) +
                                                 "&offset=" + std::to_string(offset) +
                                                 "&limit=" + std::to_string(limit));
      ASSERT_EQ(page.status, 200);
      const nlohmann::json paged = nlohmann::json::parse(page.body);
      nlohmann::json slice = nlohmann::json::array();
      for (std::size_t index = offset; index < total && index < offset + limit; ++index) {
        slice.push_back(served.at("matches").at(index));
      }
      EXPECT_EQ(paged.at("matches"), slice);
      EXPECT_EQ(paged.at("summary").at("stats").at("articles_matched"), total);
    }
    std::chrono::milliseconds took{};
    EXPECT_EQ(server.Stop(&took), 0);
  }
  // The index kept open and proven by its watch answered some of them, and they found some.
  EXPECT_GT(used, 0);
  EXPECT_GT(matched, 0u);
  // The server wrote nothing into the knowledge bases.
  for (int base = 0; base < 3; ++base) {
    EXPECT_FALSE(fs::exists(scratch_.path() / ("kb" + std::to_string(base)) / "ZebResult.htm"));
  }
}

}  // namespace
}  // namespace kb::server

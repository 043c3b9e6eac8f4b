// kbsearch-server: one knowledge base searched over HTTP, from every browser of a team.

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/search/search.h"
#include "app/search/search_settings.h"
#include "app/setup/settings_file.h"
#include "platform/file_identity.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/stop_signals.h"
#include "server/http_server.h"
#include "server/search_server.h"
#include "server/search_service.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace {

constexpr int kStopped = 0;
constexpr int kTrouble = 2;

constexpr std::string_view kUsage =
    "Usage: kbsearch-server [-C DIR] [--settings FILE] [--allow-host NAME]...\n"
    "                       [--trusted-proxy ADDRESS]... [--no-result-cache] [ADDRESS:]PORT\n"
    "Serves the search of the knowledge base in DIR (by default the current directory) over\n"
    "HTTP on PORT of ADDRESS (by default 127.0.0.1, this machine alone): a search page at /,\n"
    "its results as JSON at /api/search?q=PHRASE, and the knowledge base's articles under\n"
    "/kb/. It writes nothing into the knowledge base. Ctrl-C or SIGTERM stops it.\n"
    "\n"
    "  -C, --directory DIR     serve the knowledge base in DIR\n"
    "      --settings FILE     read the settings from FILE instead of the user's\n"
    "      --allow-host NAME   answer requests for the host name NAME too (as the\n"
    "                          browsers of the team call the server), besides loopback\n"
    "                          names and ADDRESS; may be given more than once\n"
    "      --trusted-proxy ADDRESS  a reverse proxy in front of the server (a numeric\n"
    "                          address): the client of a request from it is the last\n"
    "                          entry of its X-Forwarded-For, each with its share of\n"
    "                          the searches; without, each connection has its own;\n"
    "                          may be given more than once\n"
    "      --no-result-cache   run every search, even one repeated while nothing changed\n"
    "      --help              show this help and end\n"
    "      --version           show the version and end\n"
    "\n"
    "Exit status: 0 when stopped, 2 when it cannot start (a bad argument, a port it\n"
    "cannot listen on).\n";

struct Options {
  std::string directory;
  std::string settings_file;
  std::vector<std::string> allowed_hosts;
  std::vector<std::string> trusted_proxies;
  kb::server::ListenAddress address{.host = "127.0.0.1"};
  bool keep_findings = true;
  bool help = false;
  bool version = false;
};

int Complain(std::string_view complaint) {
  std::fprintf(stderr, "kbsearch-server: %.*s\n", static_cast<int>(complaint.size()),
               complaint.data());
  return kTrouble;
}

void Say(std::string_view text) {
  std::fprintf(stderr, "kbsearch-server: %.*s\n", static_cast<int>(text.size()), text.data());
}

// "[ADDRESS:]PORT", ADDRESS an IPv4 address or an IPv6 one in brackets; false when not so.
bool ParseListenAddress(std::string_view text, kb::server::ListenAddress& address) {
  std::string_view port = text;
  if (text.starts_with('[')) {
    const std::size_t close = text.find("]:");
    if (close == std::string_view::npos) return false;
    address.host = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    address.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
    if (address.host.find(':') != std::string::npos) return false;
  }
  if (port.empty() || port.size() > 5) return false;
  unsigned value = 0;
  for (char digit : port) {
    if (digit < '0' || digit > '9') return false;
    value = value * 10 + static_cast<unsigned>(digit - '0');
  }
  if (value > 65535) return false;
  address.port = static_cast<uint16_t>(value);
  return !address.host.empty();
}

// The options, or why they cannot be taken.
std::optional<std::string> ParseOptions(int argc, char** argv, Options& options) {
  bool have_port = false;
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    auto value = [&](std::string& into) -> std::optional<std::string> {
      if (index + 1 >= argc) return kb::Concat({"option ", argument, " needs a value"});
      into = argv[++index];
      return std::nullopt;
    };
    std::optional<std::string> problem;
    std::string text;
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "-C" || argument == "--directory") {
      problem = value(options.directory);
    } else if (argument == "--settings") {
      problem = value(options.settings_file);
    } else if (argument == "--allow-host") {
      problem = value(text);
      options.allowed_hosts.push_back(text);
    } else if (argument == "--trusted-proxy") {
      problem = value(text);
      if (problem) return problem;
      const std::optional<std::string> address = kb::server::NumericAddress(text);
      if (!address) return kb::Concat({"not a numeric IP address: ", text});
      options.trusted_proxies.push_back(*address);
    } else if (argument == "--no-result-cache") {
      options.keep_findings = false;
    } else if (argument.starts_with('-')) {
      return kb::Concat({"unknown option ", argument});
    } else if (have_port) {
      return "give one [ADDRESS:]PORT";
    } else if (!ParseListenAddress(argument, options.address)) {
      return kb::Concat({"not [ADDRESS:]PORT: ", argument});
    } else {
      have_port = true;
    }
    if (problem) return problem;
  }
  if (!have_port && !options.help && !options.version) return "no [ADDRESS:]PORT to listen on";
  return std::nullopt;
}

bool IsLoopback(const std::string& host) {
  return host.starts_with("127.") || host == "::1";
}

std::string UrlOf(const kb::server::ListenAddress& address, uint16_t port) {
  const bool ipv6 = address.host.find(':') != std::string::npos;
  std::string host = address.host;
  if (host == "0.0.0.0" || host == "::") host = ipv6 ? "::1" : "127.0.0.1";
  return kb::Concat({"http://", ipv6 ? "[" + host + "]" : host, ":", std::to_string(port), "/"});
}

// Serves until SIGINT or SIGTERM; the exit status.
int Serve(const Options& options) {
  kb::platform::Env& env = kb::platform::Env::Default();
  kb::Settings settings;
  std::vector<kb::SettingsProblem> problems;
  kb::ReadSearchSettings(env, options.settings_file, settings, problems);
  for (const kb::SettingsProblem& problem : problems) {
    Say(kb::Concat({kb::ProgramText(kb::text::kSettingsProblem), problem.Describe()}));
  }
  kb::UseProgramTexts(std::move(settings.texts));

  std::string reason;
  if (!options.directory.empty() && !kb::platform::ChangeDirectory(options.directory, reason)) {
    return Complain(kb::Concat({"cannot change to directory ", options.directory, ": ", reason}));
  }
  std::vector<kb::SettingsProblem> knowledge_base_problems;
  kb::ReadKnowledgeBaseSettings(env, settings, knowledge_base_problems);
  for (const kb::SettingsProblem& problem : knowledge_base_problems) {
    Say(kb::Concat({kb::ProgramText(kb::text::kKnowledgeBaseSettingsProblem), problem.Describe()}));
  }
  const kb::platform::FileSystemOf file_system = kb::platform::FileSystemOfPath(".");
  if (file_system.remote) {
    Say("the knowledge base lies on a network file system: every search reads every article");
  }

  const std::size_t processors = kb::platform::ProcessorCount();
  kb::server::SearchService service(
      env, settings, options.directory.empty() ? "the current directory" : options.directory,
      options.keep_findings ? kb::server::kKeptFindingsBytes : 0,
      // One light search more than the processors: each now and then waits (for the index,
      // for a read), and another then uses the processor.
      processors + 1);
  kb::server::SearchServer searches(service, {.bound_address = options.address.host,
                                              .allowed_hosts = options.allowed_hosts,
                                              .trusted_proxies = options.trusted_proxies,
                                              .processors = processors});
  std::string problem;
  const std::unique_ptr<kb::server::HttpServer> http = kb::server::HttpServer::Start(
      options.address, !options.trusted_proxies.empty(),
      [&searches](const kb::server::HttpRequest& request,
                  std::shared_ptr<kb::server::Reply> reply) { searches.Handle(request, reply); },
      problem);
  if (!http) {
    return Complain(kb::Concat({"cannot listen on ", options.address.host, " port ",
                                std::to_string(options.address.port), ": ", problem}));
  }

  std::stop_source stop;
  const kb::platform::StopSignals stop_signals(stop);
  if (!IsLoopback(options.address.host)) {
    Say(kb::Concat({"listening on ", options.address.host,
                    ": anyone who can reach it reads the whole knowledge base"}));
  }
  const std::string url = UrlOf(options.address, http->port());
  if (std::printf("%s\n", url.c_str()) < 0 || std::fflush(stdout) != 0) {
    Say("could not write the address to standard output");
  }

  std::mutex mutex;
  std::condition_variable_any stopped;
  std::unique_lock lock(mutex);
  stopped.wait(lock, stop.get_token(), [] { return false; });
  lock.unlock();

  // No new connection; the searches in flight stop and answer; then the connections close.
  http->StopAccepting();
  searches.StopSearches();
  return kStopped;
}

}  // namespace

int main(int argc, char** argv) {
  kb::platform::PrepareProcess();
  Options options;
  if (const std::optional<std::string> problem = ParseOptions(argc, argv, options)) {
    Complain(*problem);
    std::fputs("Try 'kbsearch-server --help' for more information.\n", stderr);
    return kTrouble;
  }
  if (options.help) return std::fputs(kUsage.data(), stdout) < 0 ? kTrouble : 0;
  if (options.version) return std::puts("kbsearch-server " KBSEARCH_VERSION) < 0 ? kTrouble : 0;
  return Serve(options);
}

#include "server/search_server.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "app/base/knowledge_base.h"
#include "app/search/search_json.h"
#include "platform/beneath_folder.h"
#include "server/search_page.h"
#include "server/url_text.h"

namespace kb::server {
namespace {

// The server's own pages: its script and style alone, nothing framed, nothing sent elsewhere.
constexpr std::string_view kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";
// The knowledge base's files: scripts run, but in an origin of their own.
constexpr std::string_view kFilePolicy =
    "sandbox allow-scripts allow-popups "
    "allow-popups-to-escape-sandbox";

constexpr std::string_view kFilePrefix = "/kb/";

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char byte) { return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte; });
  return lower;
}

HttpResponse Answer(unsigned status, std::string_view type, std::string body) {
  HttpResponse response;
  response.status = status;
  response.headers = {{"Content-Type", std::string(type)},
                      {"X-Content-Type-Options", "nosniff"},
                      {"Referrer-Policy", "no-referrer"}};
  response.body = std::move(body);
  return response;
}

HttpResponse PageAnswer(unsigned status, std::string_view type, std::string body) {
  HttpResponse response = Answer(status, type, std::move(body));
  response.headers.emplace_back("Content-Security-Policy", kPagePolicy);
  response.headers.emplace_back("Cache-Control", "no-store");
  return response;
}

HttpResponse TextAnswer(unsigned status, std::string_view text) {
  return PageAnswer(status, "text/plain; charset=utf-8", std::string(text) + "\n");
}

HttpResponse JsonAnswer(unsigned status, std::string body) {
  return PageAnswer(status, "application/json", std::move(body));
}

HttpResponse Busy() {
  HttpResponse response = TextAnswer(503, "too many searches at once: try again in a moment");
  response.headers.emplace_back("Retry-After", "1");
  return response;
}

// The value of the argument `name`, percent-decoded; nothing when absent; `bad` set when it
// cannot be decoded.
std::optional<std::string> Argument(const HttpRequest& request, std::string_view name, bool& bad) {
  for (const auto& [key, value] : request.arguments) {
    if (key != name) continue;
    std::optional<std::string> decoded = PercentDecode(value, true);
    if (!decoded) bad = true;
    return decoded;
  }
  return std::nullopt;
}

// A count the query gives; false when it is not a decimal number within `largest`.
bool CountArgument(const std::optional<std::string>& text, std::size_t largest,
                   std::size_t& count) {
  if (!text) return true;
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size() || value > largest) return false;
  count = value;
  return true;
}

}  // namespace

std::optional<std::string_view> ServedFileType(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 17> kTypes{{
      {".htm", "text/html"},
      {".html", "text/html"},
      {".css", "text/css"},
      {".js", "text/javascript"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".svg", "image/svg+xml"},
      {".webp", "image/webp"},
      {".ico", "image/vnd.microsoft.icon"},
      {".bmp", "image/bmp"},
      {".woff", "font/woff"},
      {".woff2", "font/woff2"},
      {".ttf", "font/ttf"},
      {".otf", "font/otf"},
      {".txt", "text/plain"},
  }};
  const std::string lower = Lower(name);
  for (const auto& [extension, type] : kTypes) {
    if (lower.size() > extension.size() && lower.ends_with(extension)) return type;
  }
  return std::nullopt;
}

std::optional<std::string> ServedFilePath(std::string_view encoded) {
  std::optional<std::string> path = PercentDecode(encoded, false);
  if (!path || path->empty()) return std::nullopt;
  std::string_view rest = *path;
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view name = rest.substr(0, slash);
    if (name.empty() || name.front() == '.' || name.back() == '~') return std::nullopt;
    if (name.find_first_of(std::string_view("\\\0", 2)) != std::string_view::npos) {
      return std::nullopt;
    }
    const std::string lower = Lower(name);
    for (std::string_view withheld : {std::string_view("kbsearch.env"), kHeaderTemplateName,
                                      kFooterTemplateName, kResultsPageName.substr(2)}) {
      if (lower == Lower(withheld)) return std::nullopt;
    }
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  if (!ServedFileType(*path)) return std::nullopt;
  return path;
}

std::string ClientKey(const HttpRequest& request, const std::vector<std::string>& trusted_proxies) {
  const bool proxied = request.forwarded_for &&
                       std::find(trusted_proxies.begin(), trusted_proxies.end(), request.peer) !=
                           trusted_proxies.end();
  if (proxied) {
    std::string_view forwarded = *request.forwarded_for;
    const std::size_t comma = forwarded.rfind(',');
    if (comma != std::string_view::npos) forwarded.remove_prefix(comma + 1);
    while (forwarded.starts_with(' ') || forwarded.starts_with('\t')) forwarded.remove_prefix(1);
    while (forwarded.ends_with(' ') || forwarded.ends_with('\t')) forwarded.remove_suffix(1);
    if (!forwarded.empty()) return "forwarded for " + std::string(forwarded);
  }
  return "connection " + request.peer + " port " + std::to_string(request.peer_port);
}

SearchServer::SearchServer(SearchService& service, ServerOptions options)
    : service_(service),
      options_(std::move(options)),
      folder_(platform::BeneathFolder::Open(".")),
      pool_({.threads = kThreadsPerProcessor * std::max<std::size_t>(1, options_.processors),
             .queue_limit = kQueueLimit,
             .per_client = kSearchesPerClient,
             .running_per_client = 1}) {}

SearchServer::~SearchServer() = default;

void SearchServer::StopSearches() {
  pool_.Stop();
}

bool SearchServer::HostAllowed(std::string_view host) const {
  // The name without its port: "[::1]:8080", "localhost:8080", "::1".
  std::string_view name = host;
  if (name.starts_with('[')) {
    const std::size_t close = name.find(']');
    if (close == std::string_view::npos) return false;
    name = name.substr(1, close - 1);
  } else if (std::count(name.begin(), name.end(), ':') == 1) {
    name = name.substr(0, name.find(':'));
  }
  if (name.ends_with('.')) name.remove_suffix(1);
  const std::string lower = Lower(name);
  if (lower == "localhost" || lower == "127.0.0.1" || lower == "::1") return true;
  if (lower == Lower(options_.bound_address)) return true;
  return std::any_of(options_.allowed_hosts.begin(), options_.allowed_hosts.end(),
                     [&lower](const std::string& allowed) { return Lower(allowed) == lower; });
}

void SearchServer::Handle(const HttpRequest& request, const std::shared_ptr<Reply>& reply) {
  if (request.method != "GET" && request.method != "HEAD") {
    HttpResponse response = TextAnswer(405, "only GET and HEAD are answered");
    response.headers.emplace_back("Allow", "GET, HEAD");
    return reply->Send(std::move(response));
  }
  if (!request.host) return reply->Send(TextAnswer(400, "a request must name its Host"));
  if (!HostAllowed(*request.host)) {
    return reply->Send(TextAnswer(421, "this server does not answer for that host name"));
  }
  const std::string_view path = request.path;
  if (path == "/") return ServeSearch(request, reply, true);
  if (path == "/api/search") return ServeSearch(request, reply, false);
  if (path == "/page.js") {
    return reply->Send(
        PageAnswer(200, "text/javascript; charset=utf-8", std::string(SearchPageScript())));
  }
  if (path == "/page.css") {
    return reply->Send(PageAnswer(200, "text/css; charset=utf-8", std::string(SearchPageStyle())));
  }
  if (path.starts_with(kFilePrefix)) return ServeFile(path.substr(kFilePrefix.size()), reply);
  reply->Send(TextAnswer(404, "not found"));
}

void SearchServer::ServeSearch(const HttpRequest& request, const std::shared_ptr<Reply>& reply,
                               bool page) {
  bool bad = false;
  const std::optional<std::string> phrase = Argument(request, "q", bad);
  std::size_t offset = 0;
  std::size_t limit = kDefaultLimit;
  const bool counts = CountArgument(Argument(request, "offset", bad), SIZE_MAX, offset) &&
                      CountArgument(Argument(request, "limit", bad), kLargestLimit, limit);
  const std::optional<std::string> kind_name = Argument(request, "query", bad);
  QueryKind kind = service_.query_kind();
  if (kind_name == "words") {
    kind = QueryKind::kWords;
  } else if (kind_name == "phrase") {
    kind = QueryKind::kPhrase;
  } else if (kind_name) {
    bad = true;
  }
  const std::optional<std::string> order_name = Argument(request, "order", bad);
  ResultsOrder order = service_.order();
  if (order_name == "name") {
    order = ResultsOrder::kName;
  } else if (order_name == "hits") {
    order = ResultsOrder::kHits;
  } else if (order_name == "relevance") {
    order = ResultsOrder::kRelevance;
  } else if (order_name) {
    bad = true;
  }
  if (bad || !counts) {
    return reply->Send(TextAnswer(400, "the query's arguments cannot be read"));
  }
  const PageChoices choices{.kind = kind, .order = order};
  if (page && (!phrase || phrase->empty())) {
    return reply->Send(
        PageAnswer(200, "text/html; charset=utf-8", SearchPageHtml({}, choices, nullptr)));
  }
  Query query;
  if (const std::optional<std::string> refusal =
          SearchService::RefusalOf(phrase.value_or(""), kind, query)) {
    if (page) {
      return reply->Send(PageAnswer(400, "text/html; charset=utf-8",
                                    SearchPageHtml(*phrase, choices, nullptr, *refusal)));
    }
    return reply->Send(JsonAnswer(400, R"({"error":)" + JsonString(*refusal) + "}"));
  }
  auto job = [this, reply, query = std::move(query), choices, offset, limit,
              page](std::stop_token stopping) {
    // The search stops when the server stops or its client has gone.
    std::stop_source stop;
    const std::stop_callback on_stopping(stopping, [&stop] { stop.request_stop(); });
    const std::stop_callback on_gone(reply->client_gone(), [&stop] { stop.request_stop(); });
    const std::size_t running = ++searches_running_;
    const std::size_t threads = std::max<std::size_t>(1, options_.processors / running);
    const std::shared_ptr<const Findings> findings =
        service_.Search(query, choices.order, stop.get_token(), threads);
    const std::vector<FoundArticle> shown =
        findings->completed ? service_.ShownPage(*findings, offset, limit, threads)
                            : std::vector<FoundArticle>{};
    --searches_running_;
    if (!findings->completed) return reply->Send(Busy());
    if (page) {
      return reply->Send(
          PageAnswer(200, "text/html; charset=utf-8",
                     SearchPageHtml(query.text, choices, findings.get(), {}, offset, shown)));
    }
    reply->Send(JsonAnswer(200, SearchService::Json(*findings, shown)));
  };
  if (!pool_.Submit(ClientKey(request, options_.trusted_proxies), std::move(job)))
    reply->Send(Busy());
}

void SearchServer::ServeFile(std::string_view encoded, const std::shared_ptr<Reply>& reply) {
  const std::optional<std::string> path = ServedFilePath(encoded);
  uint64_t size = 0;
  const int file = path && folder_ ? folder_->OpenRegularFile(*path, size) : -1;
  if (file < 0) return reply->Send(TextAnswer(404, "not found"));
  HttpResponse response = Answer(200, *ServedFileType(*path), {});
  response.headers.emplace_back("Content-Security-Policy", kFilePolicy);
  response.file = file;
  response.file_size = size;
  reply->Send(std::move(response));
}

}  // namespace kb::server

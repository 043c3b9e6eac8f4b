#pragma once

// What the search server answers, request by request:
//   GET /                the search page (server/search_page.h); with ?q=, its results
//                        composed by the server too, for a browser without scripts
//   GET /page.js, /page.css  the page's own script and style
//   GET /api/search?q=&query=&order=&offset=&limit=   the findings as JSON
//                        (SearchService::Json); query ("words" or "phrase") and order
//                        ("name", "hits" or "relevance") as the settings say by default, and
//                        for the page too; limit kDefaultLimit by default, at most
//                        kLargestLimit; a phrase refused gives 400 with {"error": "why"}
//   GET /kb/PATH         a file of the knowledge base (ServedFileType): never a name that
//                        starts with a dot, a backup ("*~"), the settings file, the templates
//                        or the results page, never through a link leading out of its folder,
//                        never a folder; with a sandbox policy, so that an article's scripts
//                        cannot reach the page or the API
// Only GET and HEAD (405 otherwise). The Host header must name a loopback address,
// "localhost", the address listened on or a name allowed (421 otherwise, 400 without one),
// against DNS rebinding. Every answer says X-Content-Type-Options: nosniff and carries no
// CORS header; the server's own pages allow only its own scripts and styles.
//
// Searches run on a FairPool (server/fair_pool.h), kThreadsPerProcessor threads for each
// processor, one search of a client at a time: so a rare query starts at once while fewer
// clients than threads search (though light searches then take turns, server/search_lanes.h);
// more clients take turns in the pool. A search reads its articles on one thread while others run,
// and on as many as the processors divided by the searches running when it starts, so that
// a search alone takes every processor and searches at once take no more than they share.
// A client is a connection
// (ClientKey), or behind a trusted proxy the address the proxy says it serves. A full queue
// answers 503 with Retry-After.

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/fair_pool.h"
#include "server/http_server.h"
#include "server/search_service.h"

namespace kb::platform {
class BeneathFolder;
}

namespace kb::server {

inline constexpr std::size_t kDefaultLimit = 20;
inline constexpr std::size_t kLargestLimit = 1000;
// Searches waiting at once, of all clients; searches waiting and running of one client.
inline constexpr std::size_t kQueueLimit = 64;
inline constexpr std::size_t kSearchesPerClient = 4;
inline constexpr std::size_t kThreadsPerProcessor = 3;

struct ServerOptions {
  std::string bound_address;                 // as listened on, without brackets
  std::vector<std::string> allowed_hosts;    // --allow-host
  std::vector<std::string> trusted_proxies;  // --trusted-proxy, each as NumericAddress
  std::size_t processors = 1;
};

// The MIME type a file of the knowledge base is served with, by its extension (case aside):
// articles, style sheets, scripts, images and fonts; nothing for any other file.
std::optional<std::string_view> ServedFileType(std::string_view name);

// The path beneath the knowledge base that `/kb/...` asks for, percent-decoded, when it is
// one the server may serve; nothing otherwise.
std::optional<std::string> ServedFilePath(std::string_view encoded);

// Who a request's searches are counted for, so that each client gets its share of the threads:
// for a request from one of the `trusted_proxies`, the last entry of its X-Forwarded-For (the
// one that proxy added: those before it, the client may have written); for any other, or one
// from a proxy that says nothing, the connection it came on, since clients behind one
// address (a proxy not trusted, a NAT) would otherwise share one turn (and a client's own
// connections from one address are bounded in number, kConnectionsPerAddress).
std::string ClientKey(const HttpRequest& request, const std::vector<std::string>& trusted_proxies);

class SearchServer {
 public:
  // Serves the knowledge base in the current directory, searched by `service`.
  SearchServer(SearchService& service, ServerOptions options);
  ~SearchServer();
  SearchServer(const SearchServer&) = delete;
  SearchServer& operator=(const SearchServer&) = delete;

  // The HttpServer's handler.
  void Handle(const HttpRequest& request, const std::shared_ptr<Reply>& reply);

  // Stops the searches in flight and answers those waiting; later searches get 503.
  void StopSearches();

 private:
  void ServeSearch(const HttpRequest& request, const std::shared_ptr<Reply>& reply, bool page);
  void ServeFile(std::string_view encoded, const std::shared_ptr<Reply>& reply);
  bool HostAllowed(std::string_view host) const;

  SearchService& service_;
  ServerOptions options_;
  std::unique_ptr<platform::BeneathFolder> folder_;
  std::atomic<std::size_t> searches_running_{0};
  FairPool pool_;  // last: its threads end first
};

}  // namespace kb::server

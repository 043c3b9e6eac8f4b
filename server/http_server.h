#pragma once

// The HTTP side of the search server: listens on one address, bounds what a client may send
// and hold, and hands each request to the server's handler as a plain value. The handler
// answers at once or later, from any thread (a search runs on the worker pool meanwhile).
// The HTTP library stays behind this header.
//
// Bounds: at most kConnectionLimit connections at once (and kConnectionsPerAddress from one
// address unless the server trusts a proxy, whose clients all share its address); a request's
// line and headers within kRequestMemory bytes (beyond, the library answers with an error
// status); a connection idle for kIdleTimeout seconds, or one whose client reads nothing of
// its answer for as long, is closed.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace kb::server {

inline constexpr unsigned kConnectionLimit = 512;
inline constexpr unsigned kConnectionsPerAddress = 128;
inline constexpr std::size_t kRequestMemory = 32 * 1024;
inline constexpr unsigned kIdleTimeout = 10;

struct HttpRequest {
  std::string method = {};
  // The path as the request gave it, still percent-encoded, without its query.
  std::string path = {};
  // The query's arguments in their order, names and values still percent-encoded.
  std::vector<std::pair<std::string, std::string>> arguments = {};
  std::optional<std::string> host = {};  // the Host header, when there is one
  // The X-Forwarded-For headers, when there are any: their values in order, joined by ", ".
  std::optional<std::string> forwarded_for = {};
  std::string peer = {};   // the address of the other end of the connection, as NumericAddress
  uint16_t peer_port = 0;  // and its port: with `peer`, the connection's own while it is open
};

struct HttpResponse {
  unsigned status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // When not -1: the body is this regular file of `file_size` bytes instead, its descriptor
  // owned by the response (closed once sent, or when the response is dropped).
  int file = -1;
  uint64_t file_size = 0;

  HttpResponse() = default;
  HttpResponse(HttpResponse&& other) noexcept;
  HttpResponse& operator=(HttpResponse&& other) noexcept;
  ~HttpResponse();
};

// The answer to one request, to be given once, from any thread.
class Reply {
 public:
  virtual ~Reply() = default;
  virtual void Send(HttpResponse response) = 0;
  // Stopped when the client has gone (closed its connection: looked at every 50 ms while the
  // answer is worked out), so that the work for it may end early.
  virtual std::stop_token client_gone() const = 0;
};

using RequestHandler = std::function<void(const HttpRequest&, std::shared_ptr<Reply>)>;

struct ListenAddress {
  std::string host;  // a numeric IPv4 or IPv6 address
  uint16_t port = 0;
};

// `text` as a numeric IPv4 or IPv6 address in the form a request's `peer` has (so that the two
// compare as text); nothing when it is not one.
std::optional<std::string> NumericAddress(const std::string& text);

class HttpServer {
 public:
  // Listens on `address` and calls `handler` for each request on the server's own thread;
  // nothing, with `problem` saying why, when it cannot.
  static std::unique_ptr<HttpServer> Start(const ListenAddress& address, bool trusts_proxy,
                                           RequestHandler handler, std::string& problem);
  // Stops listening, then closes every connection; every Reply must have been sent first
  // (StopAccepting and finishing the work in flight come before).
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The port listened on (the one the system chose when 0 was asked for).
  uint16_t port() const;
  // Takes no new connection from now on.
  void StopAccepting();

 private:
  struct Daemon;
  explicit HttpServer(std::unique_ptr<Daemon> daemon);
  std::unique_ptr<Daemon> daemon_;
};

}  // namespace kb::server

#include "server/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

namespace kb::server {
namespace {

// How often the suspended connections are looked at for clients that went away.
constexpr std::chrono::milliseconds kGoneCheckInterval{50};

bool IsIpv6(const std::string& host) {
  return host.find(':') != std::string::npos;
}

// One request and its answer, shared by the server's thread and whoever answers it.
class Exchange final : public Reply {
 public:
  explicit Exchange(MHD_Connection* connection) : connection_(connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    socket_ = info == nullptr ? -1 : info->connect_fd;
  }

  void Send(HttpResponse response) override {
    const std::lock_guard lock(mutex_);
    if (response_ || sent_) return;
    response_ = std::move(response);
    if (suspended_) {
      suspended_ = false;
      MHD_resume_connection(connection_);
    }
  }

  std::stop_token client_gone() const override { return gone_.get_token(); }

  // On the server's thread: queues the answer when there is one; else, the first time,
  // suspends the connection until Send resumes it (`suspended` set then).
  MHD_Result QueueOrSuspend(bool& suspended) {
    std::unique_lock lock(mutex_);
    suspended = false;
    if (!response_) {
      if (!suspended_ && !sent_) {
        suspended_ = suspended = true;
        MHD_suspend_connection(connection_);
      }
      return MHD_YES;
    }
    HttpResponse response = std::move(*response_);
    response_.reset();
    sent_ = true;
    lock.unlock();
    return Queue(response);
  }

  // While suspended, the library does not watch the connection: whether its client closed it
  // (an aborted request) is asked here. True once there is nothing more to watch: resumed, or
  // found gone.
  bool WatchedEnough() {
    const std::lock_guard lock(mutex_);
    // Suspended, the connection and its descriptor stay open until Send resumes it, which
    // takes this lock.
    if (!suspended_ || socket_ < 0) return true;
    pollfd state{.fd = socket_, .events = POLLRDHUP, .revents = 0};
    if (::poll(&state, 1, 0) <= 0 || (state.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0) {
      return false;
    }
    gone_.request_stop();
    return true;
  }

  // The connection is over: nothing may be queued on it or resume it any more.
  void Gone() {
    const std::lock_guard lock(mutex_);
    sent_ = true;
    gone_.request_stop();
  }

 private:
  MHD_Result Queue(HttpResponse& response) {
    MHD_Response* answer = nullptr;
    if (response.file >= 0) {
      answer = MHD_create_response_from_fd64(response.file_size, response.file);
      if (answer != nullptr) response.file = -1;  // the library closes it
    } else {
      answer = MHD_create_response_from_buffer(response.body.size(), response.body.data(),
                                               MHD_RESPMEM_MUST_COPY);
    }
    if (answer == nullptr) return MHD_NO;
    for (const auto& [name, value] : response.headers) {
      MHD_add_response_header(answer, name.c_str(), value.c_str());
    }
    const MHD_Result queued = MHD_queue_response(connection_, response.status, answer);
    MHD_destroy_response(answer);
    return queued;
  }

  MHD_Connection* connection_;
  int socket_ = -1;
  std::mutex mutex_;
  std::optional<HttpResponse> response_;
  bool suspended_ = false;
  bool sent_ = false;
  std::stop_source gone_;
};

// What the connection's slot in the library holds.
using ExchangeHolder = std::shared_ptr<Exchange>;

// The address and port of the connection's other end.
void SetPeer(MHD_Connection* connection, HttpRequest& request) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return;
  char text[INET6_ADDRSTRLEN] = {};
  const sockaddr* address = info->client_addr;
  if (address->sa_family == AF_INET) {
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text);
    request.peer_port = ntohs(ipv4->sin_port);
  } else if (address->sa_family == AF_INET6) {
    const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &ipv6->sin6_addr, text, sizeof text);
    request.peer_port = ntohs(ipv6->sin6_port);
  }
  request.peer = text;
}

// Gathers the values of every X-Forwarded-For header, in their order.
MHD_Result AddForwardedFor(void* cls, MHD_ValueKind /*kind*/, const char* key, size_t key_size,
                           const char* value, size_t value_size) {
  constexpr std::string_view kName = "x-forwarded-for";
  const std::string_view name(key, key_size);
  if (name.size() != kName.size() || value == nullptr ||
      !std::equal(name.begin(), name.end(), kName.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
      })) {
    return MHD_YES;
  }
  auto& forwarded = *static_cast<std::optional<std::string>*>(cls);
  forwarded = forwarded ? *forwarded + ", " : std::string();
  forwarded->append(value, value_size);
  return MHD_YES;
}

MHD_Result AddArgument(void* cls, MHD_ValueKind /*kind*/, const char* key, size_t key_size,
                       const char* value, size_t value_size) {
  auto& arguments = *static_cast<std::vector<std::pair<std::string, std::string>>*>(cls);
  arguments.emplace_back(std::string(key, key_size),
                         value == nullptr ? std::string() : std::string(value, value_size));
  return MHD_YES;
}

std::optional<std::string> HeaderOf(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// Leaves every escape as it came: the server decodes what it reads itself, so that no
// decoded NUL byte cuts a path short unseen.
size_t KeepEscapes(void* /*cls*/, MHD_Connection* /*connection*/, char* text) {
  return std::strlen(text);
}

}  // namespace

std::optional<std::string> NumericAddress(const std::string& text) {
  const int family = IsIpv6(text) ? AF_INET6 : AF_INET;
  in6_addr address{};
  char written[INET6_ADDRSTRLEN] = {};
  if (inet_pton(family, text.c_str(), &address) != 1 ||
      inet_ntop(family, &address, written, sizeof written) == nullptr) {
    return std::nullopt;
  }
  return written;
}

HttpResponse::HttpResponse(HttpResponse&& other) noexcept
    : status(other.status),
      headers(std::move(other.headers)),
      body(std::move(other.body)),
      file(std::exchange(other.file, -1)),
      file_size(other.file_size) {}

HttpResponse& HttpResponse::operator=(HttpResponse&& other) noexcept {
  if (this != &other) {
    if (file >= 0) ::close(file);
    status = other.status;
    headers = std::move(other.headers);
    body = std::move(other.body);
    file = std::exchange(other.file, -1);
    file_size = other.file_size;
  }
  return *this;
}

HttpResponse::~HttpResponse() {
  if (file >= 0) ::close(file);
}

struct HttpServer::Daemon {
  RequestHandler handler;
  MHD_Daemon* daemon = nullptr;
  // The exchanges suspended while their answer is worked out, watched for clients that go.
  std::mutex suspended_mutex;
  std::vector<std::weak_ptr<Exchange>> suspended;
  std::jthread watch;

  Daemon()
      : watch([this](std::stop_token stop) {
          std::mutex sleep_mutex;
          std::condition_variable_any sleep;
          std::unique_lock sleep_lock(sleep_mutex);
          while (!sleep.wait_for(sleep_lock, stop, kGoneCheckInterval, [] { return false; })) {
            if (stop.stop_requested()) return;
            WatchSuspended();
          }
        }) {}

  ~Daemon() {
    watch = {};
    if (daemon != nullptr) MHD_stop_daemon(daemon);
  }

  void WatchSuspended() {
    const std::lock_guard lock(suspended_mutex);
    std::erase_if(suspended, [](const std::weak_ptr<Exchange>& watched) {
      const std::shared_ptr<Exchange> exchange = watched.lock();
      return exchange == nullptr || exchange->WatchedEnough();
    });
  }

  MHD_Result QueueOrSuspend(const ExchangeHolder& exchange) {
    bool suspended_now = false;
    const MHD_Result result = exchange->QueueOrSuspend(suspended_now);
    if (suspended_now) {
      const std::lock_guard lock(suspended_mutex);
      suspended.push_back(exchange);
    }
    return result;
  }

  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                              const char* method, const char* /*version*/,
                              const char* /*upload_data*/, size_t* upload_data_size, void** slot) {
    auto* self = static_cast<Daemon*>(cls);
    if (*slot != nullptr) {
      // Called again: resumed, or with a body that no request of ours takes.
      *upload_data_size = 0;
      return self->QueueOrSuspend(*static_cast<ExchangeHolder*>(*slot));
    }
    auto* holder = new ExchangeHolder(std::make_shared<Exchange>(connection));
    *slot = holder;
    HttpRequest request{.method = method, .path = url};
    MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, &AddArgument,
                                &request.arguments);
    request.host = HeaderOf(connection, MHD_HTTP_HEADER_HOST);
    MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &AddForwardedFor,
                                &request.forwarded_for);
    SetPeer(connection, request);
    self->handler(request, *holder);
    return self->QueueOrSuspend(*holder);
  }

  static void OnCompleted(void* /*cls*/, MHD_Connection* /*connection*/, void** slot,
                          MHD_RequestTerminationCode /*code*/) {
    auto* holder = static_cast<ExchangeHolder*>(*slot);
    if (holder == nullptr) return;
    (*holder)->Gone();
    delete holder;
    *slot = nullptr;
  }
};

std::unique_ptr<HttpServer> HttpServer::Start(const ListenAddress& address, bool trusts_proxy,
                                              RequestHandler handler, std::string& problem) {
  sockaddr_storage storage{};
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME;
  if (IsIpv6(address.host)) {
    auto& ipv6 = reinterpret_cast<sockaddr_in6&>(storage);
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(address.port);
    if (inet_pton(AF_INET6, address.host.c_str(), &ipv6.sin6_addr) != 1) {
      problem = "not a numeric IP address: " + address.host;
      return nullptr;
    }
    flags |= MHD_USE_IPv6;
  } else {
    auto& ipv4 = reinterpret_cast<sockaddr_in&>(storage);
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(address.port);
    if (inet_pton(AF_INET, address.host.c_str(), &ipv4.sin_addr) != 1) {
      problem = "not a numeric IP address: " + address.host;
      return nullptr;
    }
  }
  auto daemon = std::make_unique<Daemon>();
  daemon->handler = std::move(handler);
  errno = 0;
  daemon->daemon = MHD_start_daemon(
      flags, address.port, nullptr, nullptr, &Daemon::OnRequest, daemon.get(), MHD_OPTION_SOCK_ADDR,
      reinterpret_cast<sockaddr*>(&storage), MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, trusts_proxy ? 0u : kConnectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeout, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kRequestMemory, MHD_OPTION_NOTIFY_COMPLETED, &Daemon::OnCompleted, nullptr,
      MHD_OPTION_UNESCAPE_CALLBACK, &KeepEscapes, nullptr, MHD_OPTION_END);
  if (daemon->daemon == nullptr) {
    problem = errno != 0 ? std::strerror(errno) : "the HTTP server could not start";
    return nullptr;
  }
  return std::unique_ptr<HttpServer>(new HttpServer(std::move(daemon)));
}

HttpServer::HttpServer(std::unique_ptr<Daemon> daemon) : daemon_(std::move(daemon)) {}

HttpServer::~HttpServer() = default;

uint16_t HttpServer::port() const {
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  return info == nullptr ? 0 : info->port;
}

void HttpServer::StopAccepting() {
  const MHD_socket listening = MHD_quiesce_daemon(daemon_->daemon);
  if (listening != MHD_INVALID_SOCKET) ::close(listening);
}

}  // namespace kb::server

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "server/http_server.h"
#include "server/search_server.h"

namespace kb::server {
namespace {

HttpRequest From(std::string peer, uint16_t port, std::optional<std::string> forwarded_for = {}) {
  return {.forwarded_for = std::move(forwarded_for), .peer = std::move(peer), .peer_port = port};
}

// Without a proxy trusted, every connection is a client of its own, whatever the request
// claims; a trusted proxy's requests are told apart by the entry it added, not by those a
// client wrote before it.
TEST(ClientKeyTest, AConnectionOrTheAddressATrustedProxyAdded) {
  const std::vector<std::string> none;
  EXPECT_EQ(ClientKey(From("10.0.0.5", 40000), none), ClientKey(From("10.0.0.5", 40000), none));
  EXPECT_NE(ClientKey(From("10.0.0.5", 40000), none), ClientKey(From("10.0.0.5", 40001), none));
  EXPECT_NE(ClientKey(From("10.0.0.5", 40000), none), ClientKey(From("10.0.0.6", 40000), none));
  // A client that names another address is not believed.
  EXPECT_EQ(ClientKey(From("10.0.0.5", 40000, "10.9.9.9"), none),
            ClientKey(From("10.0.0.5", 40000), none));

  const std::vector<std::string> proxies{"10.0.0.1", "::1"};
  // From the proxy: the last entry, blanks aside, whatever came before it and on any
  // connection; so one reader's searches share one turn.
  const std::string reader = ClientKey(From("10.0.0.1", 50000, "10.1.1.1, 10.2.2.2"), proxies);
  EXPECT_EQ(ClientKey(From("10.0.0.1", 50001, "forged,10.2.2.2 "), proxies), reader);
  EXPECT_EQ(ClientKey(From("::1", 50002, "10.2.2.2"), proxies), reader);
  EXPECT_NE(ClientKey(From("10.0.0.1", 50000, "10.2.2.3"), proxies), reader);
  // A forwarded address is never taken for a connection, nor the reverse.
  EXPECT_NE(ClientKey(From("10.0.0.1", 50000, "10.0.0.1"), proxies),
            ClientKey(From("10.0.0.1", 50000), proxies));
  // A proxy that says nothing (no header, or an empty last entry): its connection.
  EXPECT_EQ(ClientKey(From("10.0.0.1", 50000), proxies), ClientKey(From("10.0.0.1", 50000), none));
  EXPECT_EQ(ClientKey(From("10.0.0.1", 50000, "10.2.2.2, "), proxies),
            ClientKey(From("10.0.0.1", 50000), none));
  // Another peer is not trusted for being named like one.
  EXPECT_EQ(ClientKey(From("10.0.0.2", 50000, "10.2.2.2"), proxies),
            ClientKey(From("10.0.0.2", 50000), none));
}

// A proxy is named as the peers are written, so that any spelling of its address matches.
TEST(ClientKeyTest, AProxyAddressIsWrittenAsPeersAre) {
  EXPECT_EQ(NumericAddress("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(NumericAddress("0:0:0:0:0:0:0:1"), "::1");
  EXPECT_EQ(NumericAddress("FE80::0A"), "fe80::a");
  for (const char* refused : {"localhost", "", "1.2.3", "10.0.0.256", "::1%lo", "[::1]"}) {
    EXPECT_EQ(NumericAddress(refused), std::nullopt) << refused;
  }
}

}  // namespace
}  // namespace kb::server

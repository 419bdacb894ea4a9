// The usage ping against a real HTTP listener on 127.0.0.1 in this process.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

#include "app/UsagePing.h"

using namespace siftwell::app;

namespace {

constexpr char kExpectedTarget[] = "/?source=orbel&v=" SIFTWELL_TEST_VERSION;

class Winsock {
 public:
  Winsock() { ok_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  ~Winsock() {
    if (ok_) WSACleanup();
  }
  bool Ok() const { return ok_; }

 private:
  WSADATA data_{};
  bool ok_ = false;
};

class Socket {
 public:
  explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return s_; }

 private:
  SOCKET s_;
};

// Waits (bounded, so a broken ping fails the test instead of hanging it) until
// `s` is readable.
bool Readable(SOCKET s, int32_t seconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval limit{seconds, 0};
  return select(0, &set, nullptr, nullptr, &limit) == 1;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// Listens on 127.0.0.1 at a free port: the port, 0 if it cannot.
uint16_t ListenOnAFreePort(const Socket& s, int32_t backlog) {
  sockaddr_in address = Loopback(0);
  int length = sizeof(address);
  if (bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(s.get(), backlog) != 0 ||
      getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

// One-shot HTTP server on 127.0.0.1, ephemeral port: takes one request, answers
// 200 with a short body, and keeps what it received.
class Listener {
 public:
  explicit Listener(int32_t waitSeconds = 60)
      : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)), waitSeconds_(waitSeconds) {
    port_ = ListenOnAFreePort(socket_, 1);
    if (port_ != 0) thread_ = std::thread([this] { Serve(); });
  }
  ~Listener() { Join(); }
  uint16_t Port() const { return port_; }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  const std::string& Received() const { return received_; }
  bool Accepted() const { return accepted_; }
  bool AfterHeaders() const { return extra_; }

 private:
  void Serve() {
    if (!Readable(socket_.get(), waitSeconds_)) return;
    Socket client(accept(socket_.get(), nullptr, nullptr));
    if (client.get() == INVALID_SOCKET) return;
    accepted_ = true;
    char buffer[4096];
    while (received_.find("\r\n\r\n") == std::string::npos && Readable(client.get(), 30)) {
      const int n = recv(client.get(), buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      received_.append(buffer, static_cast<size_t>(n));
    }
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nthanks";
    send(client.get(), answer.data(), static_cast<int>(answer.size()), 0);
    // Anything more from the client would be a body.
    if (Readable(client.get(), 1)) {
      extra_ = recv(client.get(), buffer, sizeof(buffer), 0) > 0;
    }
    shutdown(client.get(), SD_BOTH);
  }

  Socket socket_;
  int32_t waitSeconds_;
  bool accepted_ = false;
  uint16_t port_ = 0;
  std::thread thread_;
  std::string received_;
  bool extra_ = false;
};

struct Request {
  std::string line;
  std::map<std::string, std::string> headers;  // lower-case names
  std::string rest;                            // bytes after the blank line
};

Request Parse(const std::string& raw) {
  Request request;
  const size_t end = raw.find("\r\n\r\n");
  const std::string head = raw.substr(0, end);
  request.rest = end == std::string::npos ? std::string() : raw.substr(end + 4);
  size_t pos = head.find("\r\n");
  request.line = head.substr(0, pos);
  while (pos != std::string::npos) {
    const size_t next = head.find("\r\n", pos + 2);
    const std::string header = head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
    const size_t colon = header.find(':');
    std::string name = header.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    request.headers[name] = header.substr(header.find_first_not_of(' ', colon + 1));
    pos = next;
  }
  return request;
}

class UsagePing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(winsock.Ok());
    // The test talks to 127.0.0.1 only, never through a proxy.
    for (const wchar_t* name : {L"http_proxy", L"HTTP_PROXY", L"all_proxy", L"ALL_PROXY"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
  }
  void TearDown() override {
    CancelUsagePings();
    // Each ping's thread closes its handles and ends (bounded, not hanging the test).
    for (int i = 0; i < 1000 && UsagePingsInFlight() != 0; ++i) Sleep(20);
    EXPECT_EQ(UsagePingsInFlight(), 0u) << "every ping's thread ended";
  }
  Winsock winsock;
};

TEST_F(UsagePing, TargetIsTheRootWithSourceAndVersion) {
  const std::wstring target = UsagePingTarget();
  EXPECT_EQ(std::string(target.begin(), target.end()), kExpectedTarget);
}

TEST_F(UsagePing, SendsOneBodilessGetOfTheRootWithTheExactQuery) {
  Listener listener;
  ASSERT_NE(listener.Port(), 0);
  ASSERT_TRUE(StartUsagePing(L"127.0.0.1", listener.Port()));
  listener.Join();
  Request request = Parse(listener.Received());
  EXPECT_EQ(request.line, std::string("GET ") + kExpectedTarget + " HTTP/1.1");
  EXPECT_EQ(request.headers["host"], "127.0.0.1:" + std::to_string(listener.Port()));
  // No body, and no headers beyond what HTTP itself needs.
  EXPECT_TRUE(request.rest.empty());
  EXPECT_FALSE(listener.AfterHeaders());
  for (const auto& [name, value] : request.headers) {
    const bool allowed = name == "host" || name == "connection" || name == "content-length";
    EXPECT_TRUE(allowed) << "extra header " << name << ": " << value;
    if (name == "content-length") EXPECT_EQ(value, "0");
  }
}

TEST_F(UsagePing, StartsWhenNobodyListensAndFailsSilentlyLater) {
  uint16_t port = 0;
  {
    Listener closed;  // takes a free port and gives it back unanswered
    port = closed.Port();
    Socket poke(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in address = Loopback(port);
    connect(poke.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  }
  ASSERT_NE(port, 0);
  EXPECT_TRUE(StartUsagePing(L"127.0.0.1", port));
}

// The shipped build's endpoint lies under .invalid: no name lookup, and no
// connection to a proxy either (which would look the name up for us).
TEST_F(UsagePing, AnInvalidEndpointIsNeverContactedNotEvenThroughAProxy) {
  Listener proxy(2);
  ASSERT_NE(proxy.Port(), 0);
  const std::wstring address = L"http://127.0.0.1:" + std::to_wstring(proxy.Port());
  for (const wchar_t* name : {L"http_proxy", L"HTTP_PROXY"}) SetEnvironmentVariableW(name, address.c_str());
  EXPECT_TRUE(StartUsagePing(L"ping.siftwell.invalid", 80));
  EXPECT_TRUE(StartUsagePing(L"Example.INVALID.", 80));
  proxy.Join();
  EXPECT_FALSE(proxy.Accepted()) << proxy.Received();
  EXPECT_EQ(UsagePingsInFlight(), 0u);
  for (const wchar_t* name : {L"http_proxy", L"HTTP_PROXY"}) SetEnvironmentVariableW(name, nullptr);
}

// A silent endpoint (it takes the connection but never answers) keeps one ping
// waiting: opening the window again meanwhile sends nothing more, and a cancel
// does not wait for it.
TEST_F(UsagePing, AtMostOnePingIsInFlightAndCancelDoesNotWait) {
  Socket silent(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const uint16_t port = ListenOnAFreePort(silent, 4);
  ASSERT_NE(port, 0);

  ASSERT_TRUE(StartUsagePing(L"127.0.0.1", port));
  ASSERT_TRUE(Readable(silent.get(), 30)) << "the first ping connects";
  Socket first(accept(silent.get(), nullptr, nullptr));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(StartUsagePing(L"127.0.0.1", port));
  EXPECT_EQ(UsagePingsInFlight(), 1u);
  EXPECT_FALSE(Readable(silent.get(), 1)) << "a second ping connected";

  const DWORD before = GetTickCount();
  CancelUsagePings();
  EXPECT_LT(GetTickCount() - before, 1000u) << "cancelling waited on the network";
  // The silent endpoint goes away; the waiting ping's thread then ends (TearDown).
}

TEST_F(UsagePing, AnEndpointThatCannotBeUsedFailsToStart) {
  EXPECT_FALSE(StartUsagePing(L"", 80));
  EXPECT_FALSE(StartUsagePing(L"127.0.0.1", 0));
}

}  // namespace

#include "app/UsagePing.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cwctype>
#include <memory>
#include <mutex>
#include <set>

#include "win/WindowKit.h"
#include "siftwell/BuildConfig.h"

namespace siftwell::app {

static_assert(SIFTWELL_PING_PORT_NUMBER > 0 && SIFTWELL_PING_PORT_NUMBER <= 65535,
              "SIFTWELL_PING_PORT must be a TCP port number");

namespace {

constexpr wchar_t kTarget[] = L"/?source=orbel&v=" SIFTWELL_VERSION_TEXT;
constexpr wchar_t kHost[] = L"" SIFTWELL_PING_HOST_TEXT;
// Resolve, connect, send and receive, each: the longest a ping's thread can
// stay inside one call, since nothing may abort a synchronous call from outside.
constexpr int kTimeoutMs = 10000;
constexpr DWORD kMaxAnswerBytes = 1 << 16;  // read this much of an answer at most
constexpr SIZE_T kThreadStack = 64 << 10;

// One request. Only its own thread touches the handles: it makes the
// (synchronous) calls and closes everything when it lets go of the Ping.
// Cancel, from another thread, only asks it to make no further call; a call in
// progress ends by its timeout (closing a handle under a synchronous call is
// not safe), and the process may exit meanwhile, as the thread pins the module.
class Ping {
 public:
  ~Ping() {
    CloseIf(request_);
    CloseIf(connect_);
    CloseIf(session_);
  }
  bool Open(std::wstring_view host, uint16_t port) {
    const std::wstring hostName(host);
    // No user agent: the request carries only the headers HTTP itself needs.
    session_ = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    if (session_ == nullptr) return false;
    WinHttpSetTimeouts(session_, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
    connect_ = WinHttpConnect(session_, hostName.c_str(), port, 0);
    if (connect_ == nullptr) return false;
    request_ = WinHttpOpenRequest(connect_, L"GET", kTarget, nullptr, WINHTTP_NO_REFERER,
                                  WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    return request_ != nullptr;
  }

  // On the ping's thread: send, take the answer, throw it away.
  void Send() {
    if (Cancelled() ||
        !WinHttpSendRequest(request_, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
      return;
    if (Cancelled() || !WinHttpReceiveResponse(request_, nullptr)) return;
    DWORD received = 0;
    while (received < kMaxAnswerBytes && !Cancelled()) {
      DWORD n = 0;
      if (!WinHttpReadData(request_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &n) || n == 0) break;
      received += n;
    }
  }

  void Cancel() noexcept { cancelled_.store(true); }

 private:
  bool Cancelled() const noexcept { return cancelled_.load(); }
  static void CloseIf(HINTERNET& handle) {
    if (handle != nullptr) WinHttpCloseHandle(handle);
    handle = nullptr;
  }

  std::atomic<bool> cancelled_{false};
  HINTERNET session_ = nullptr;
  HINTERNET connect_ = nullptr;
  HINTERNET request_ = nullptr;
  std::array<char, 4096> buffer_{};
};

struct InFlight {
  std::mutex mutex;
  std::set<std::shared_ptr<Ping>> pings;
};
InFlight& Pings() {
  static InFlight inFlight;
  return inFlight;
}


// Reserved by RFC 2606 and RFC 6761: names under it never resolve.
bool UnderInvalid(std::wstring_view host) {
  std::wstring name(host);
  std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
  if (!name.empty() && name.back() == L'.') name.pop_back();
  return name == L"invalid" || name.ends_with(L".invalid");
}

}  // namespace

std::wstring UsagePingTarget() { return kTarget; }

bool StartUsagePing() { return StartUsagePing(kHost, static_cast<uint16_t>(SIFTWELL_PING_PORT_NUMBER)); }

bool StartUsagePing(std::wstring_view host, uint16_t port) {
  if (host.empty() || port == 0) return false;
  if (UnderInvalid(host)) return true;  // nothing to send, and nothing is sent
  InFlight& all = Pings();
  // At most one ping per process at a time: while one is on its way (a slow
  // or silent endpoint), opening the window again sends nothing more.
  {
    std::lock_guard lock(all.mutex);
    if (!all.pings.empty()) return true;
  }
  auto ping = std::make_shared<Ping>();
  if (!ping->Open(host, port)) return false;
  {
    std::lock_guard lock(all.mutex);
    if (!all.pings.empty()) return true;
    all.pings.insert(ping);
  }
  // The ping's handles close when the thread lets go of it, on that thread.
  HANDLE thread = siftwell::win::StartModuleThread(
      [ping] {
        ping->Send();
        std::lock_guard lock(Pings().mutex);
        Pings().pings.erase(ping);
      },
      kThreadStack);
  if (thread == nullptr) {
    std::lock_guard lock(all.mutex);
    all.pings.erase(ping);
    return false;
  }
  CloseHandle(thread);
  return true;
}

void CancelUsagePings() {
  InFlight& all = Pings();
  std::lock_guard lock(all.mutex);
  for (const auto& ping : all.pings) ping->Cancel();
}

std::size_t UsagePingsInFlight() {
  InFlight& all = Pings();
  std::lock_guard lock(all.mutex);
  return all.pings.size();
}

}  // namespace siftwell::app

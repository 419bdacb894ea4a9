#include "plugin/UsagePing.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "siftwell/BuildConfig.h"

static_assert(SIFTWELL_PING_PORT_NUMBER > 0 && SIFTWELL_PING_PORT_NUMBER <= 65535,
              "SIFTWELL_PING_PORT must be a TCP port number");

namespace {

constexpr wchar_t kTarget[] = L"/?source=orbel&v=" SIFTWELL_VERSION_TEXT;
constexpr wchar_t kHost[] = L"" SIFTWELL_PING_HOST_TEXT;
constexpr int kTimeoutMs = 15000;           // resolve, connect, send and receive, each
constexpr DWORD kMaxAnswerBytes = 1 << 16;  // read this much of an answer at most
constexpr auto kCancelWait = std::chrono::seconds(3);

// One request in flight. Its three handles close when the request handle does.
struct Ping {
  HINTERNET session = nullptr;
  HINTERNET connect = nullptr;
  HINTERNET request = nullptr;
  std::atomic<bool> closing{false};
  DWORD received = 0;
  std::array<char, 4096> buffer{};
};

// Pings whose request handle is open or closing; the platform's threads report
// on them until the request's WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING.
struct InFlight {
  std::mutex mutex;
  std::condition_variable drained;
  std::map<Ping*, std::unique_ptr<Ping>> pings;
};
InFlight& Pings() {
  static InFlight inFlight;
  return inFlight;
}

void CloseRequest(Ping* ping) {
  // May call back (HANDLE_CLOSING) before it returns: `ping` is gone afterwards.
  if (!ping->closing.exchange(true)) WinHttpCloseHandle(ping->request);
}

void Release(Ping* ping) {
  WinHttpCloseHandle(ping->connect);
  WinHttpCloseHandle(ping->session);
  InFlight& all = Pings();
  std::lock_guard lock(all.mutex);
  all.pings.erase(ping);
  all.drained.notify_all();
}

void ReadMore(Ping* ping) {
  if (!WinHttpQueryDataAvailable(ping->request, nullptr)) CloseRequest(ping);
}

void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
  auto* ping = reinterpret_cast<Ping*>(context);
  if (ping == nullptr || handle != ping->request) return;  // session and connect handles
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      if (!WinHttpReceiveResponse(ping->request, nullptr)) CloseRequest(ping);
      break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      ReadMore(ping);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: {
      const DWORD available = info != nullptr ? *static_cast<DWORD*>(info) : 0;
      if (available == 0 || ping->received >= kMaxAnswerBytes) {
        CloseRequest(ping);
      } else {
        const DWORD chunk = std::min<DWORD>(available, static_cast<DWORD>(ping->buffer.size()));
        if (!WinHttpReadData(ping->request, ping->buffer.data(), chunk, nullptr)) CloseRequest(ping);
      }
      break;
    }
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      ping->received += infoLength;
      if (infoLength == 0) CloseRequest(ping);
      else ReadMore(ping);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      CloseRequest(ping);
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      Release(ping);
      break;
    default:
      break;
  }
}

}  // namespace

std::wstring UsagePingTarget() { return kTarget; }

bool StartUsagePing() { return StartUsagePing(kHost, static_cast<uint16_t>(SIFTWELL_PING_PORT_NUMBER)); }

bool StartUsagePing(std::wstring_view host, uint16_t port) {
  if (host.empty() || port == 0) return false;
  const std::wstring hostName(host);
  auto ping = std::make_unique<Ping>();
  // No user agent: the request carries only the headers HTTP itself needs.
  ping->session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (ping->session == nullptr) return false;
  WinHttpSetTimeouts(ping->session, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
  const auto previous = WinHttpSetStatusCallback(
      ping->session, &OnStatus, WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0);
  if (previous == WINHTTP_INVALID_STATUS_CALLBACK) {
    WinHttpCloseHandle(ping->session);
    return false;
  }
  ping->connect = WinHttpConnect(ping->session, hostName.c_str(), port, 0);
  if (ping->connect != nullptr) {
    ping->request = WinHttpOpenRequest(ping->connect, L"GET", kTarget, nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  }
  Ping* raw = ping.get();
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(raw);
  if (ping->request == nullptr ||
      !WinHttpSetOption(ping->request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
    if (ping->request != nullptr) WinHttpCloseHandle(ping->request);
    if (ping->connect != nullptr) WinHttpCloseHandle(ping->connect);
    WinHttpCloseHandle(ping->session);
    return false;
  }
  {
    InFlight& all = Pings();
    std::lock_guard lock(all.mutex);
    all.pings.emplace(raw, std::move(ping));
  }
  // From here the platform's callbacks own the ping; closing the request ends it.
  if (!WinHttpSendRequest(raw->request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                          context)) {
    CloseRequest(raw);
    return false;
  }
  return true;
}

bool CancelUsagePings() {
  InFlight& all = Pings();
  std::vector<Ping*> open;
  {
    std::lock_guard lock(all.mutex);
    for (auto& [raw, ping] : all.pings) open.push_back(raw);
  }
  // Closing outside the lock: the platform may report HANDLE_CLOSING at once.
  // A ping that finished meanwhile was erased; only close ones still listed.
  for (Ping* raw : open) {
    std::unique_lock lock(all.mutex);
    if (!all.pings.contains(raw)) continue;
    if (raw->closing.exchange(true)) continue;
    HINTERNET request = raw->request;
    lock.unlock();
    WinHttpCloseHandle(request);
  }
  std::unique_lock lock(all.mutex);
  return all.drained.wait_for(lock, kCancelWait, [&all] { return all.pings.empty(); });
}

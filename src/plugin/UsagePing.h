// The usage ping of "Open Siftwell": a fire-and-forget HTTP GET of
// "/?source=orbel&v=<version>" on the endpoint chosen at build time
// (SIFTWELL_PING_HOST / SIFTWELL_PING_PORT). No body, no extra headers; the
// answer is read and thrown away. Completion happens on the platform's HTTP
// threads; nothing waits for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Starts the ping to the build's endpoint. False when the request could not
// even be started (the caller marks the window title); a failure after that,
// such as an unreachable host, is silent.
bool StartUsagePing();

// The same to an endpoint given at run time. An empty host or port 0 cannot start.
bool StartUsagePing(std::wstring_view host, uint16_t port);

// Path and query of the request: "/?source=orbel&v=1.0.0.39277" for this build.
std::wstring UsagePingTarget();

// Aborts pings still in flight and waits, a few seconds at most, until the
// platform has let go of them. For plugin shutdown, before the library unloads.
// True when none is left.
bool CancelUsagePings();

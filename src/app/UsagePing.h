// The usage ping of "Open Siftwell": a fire-and-forget HTTP GET of
// "/?source=orbel&v=<version>" on the endpoint chosen at build time
// (SIFTWELL_PING_HOST / SIFTWELL_PING_PORT). No body, no extra headers; the
// answer is read and thrown away. At most one request is on its way at a time,
// on a thread of its own, which holds a reference on this module until its
// last instruction, so the library never unloads under a request; nothing
// waits for it, shutdown included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace siftwell::app {

// Starts the ping to the build's endpoint; while one is still in flight nothing
// more is sent (true). False when the request could not even be started (the
// caller marks the window title); a failure after that, such as an unreachable
// host, is silent. An endpoint under the reserved
// ".invalid" domain is never contacted (no name lookup, no proxy): true.
bool StartUsagePing();

// The same to an endpoint given at run time. An empty host or port 0 cannot start.
bool StartUsagePing(std::wstring_view host, uint16_t port);

// Path and query of the request: "/?source=orbel&v=1.0.0.39277" for this build.
std::wstring UsagePingTarget();

// Asks the ping in flight to make no further call (for plugin shutdown); it
// does not wait. Its thread ends after the call in progress (bounded by the
// request's timeouts), closing what it opened; the library stays loaded until it has.
void CancelUsagePings();

// Pings whose thread has not finished yet.
std::size_t UsagePingsInFlight();

}  // namespace siftwell::app

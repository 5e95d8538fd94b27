// Calls marshalled to the window thread. Built-ins that drive devices or objects the window thread
// owns hand the work over as a numbered request and wait for its result; request numbers keep the
// window-message numbers the engine's games and native libraries know (WM_USER + N).
#pragma once
#include <cstdint>

namespace talven::vm {

inline constexpr std::uint32_t kCloseRequest = 0x0010;  // WM_CLOSE
inline constexpr std::uint32_t kSetTextRequest = 0x000C;  // WM_SETTEXT
inline constexpr std::uint32_t kUserMessage = 0x0400;   // WM_USER

// Serves request `message` on the window thread. A module registers the requests it serves when
// it starts; numbers at or above kRequestLimit are never served.
using RequestHandler = std::uint32_t (*)(std::uint32_t wparam, std::uint32_t lparam);
inline constexpr std::uint32_t kRequestLimit = 0x500;
void set_request_handler(std::uint32_t message, RequestHandler handler);

// The calling thread becomes the window thread and requests are served from now on (until
// stop_serving_requests). Queued requests wait for process_pending_requests.
void start_serving_requests();
// Requests are no longer served: waiting senders get 0, queued ones are dropped.
void stop_serving_requests();

// Runs the request on the window thread and returns its result; blocks until then. Called on the
// window thread itself, it runs at once. Returns 0 when the window thread does not serve.
std::uint32_t send_request(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);
// Queues the request and returns at once.
void post_request(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);
// Serves every queued request (window thread).
void process_pending_requests();

// How the window thread is woken when a request arrives (the platform's event wake-up).
void set_request_wake(void (*wake)());

}  // namespace talven::vm

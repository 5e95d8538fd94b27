#include "vm/requests.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <thread>

namespace talven::vm {
namespace {

struct Request {
  std::uint32_t message = 0, wparam = 0, lparam = 0;
  std::uint32_t result = 0;
  bool done = false;
  bool waited_for = false;
};

std::mutex g_queue_mutex;
std::condition_variable g_request_done;
std::deque<Request*> g_queue;
bool g_serving = false;  // guarded by g_queue_mutex
std::atomic<std::thread::id> g_window_thread{};
std::atomic<RequestHandler> g_handlers[kRequestLimit];
std::atomic<void (*)()> g_wake{nullptr};

std::uint32_t dispatch(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  if (message >= kRequestLimit) return 0;
  RequestHandler handler = g_handlers[message].load();
  return handler != nullptr ? handler(wparam, lparam) : 0;
}

void wake() {
  if (auto w = g_wake.load()) w();
}

// Hands a finished request back to its sender, or frees one that nobody waits for.
void complete(Request* request, std::uint32_t result) {
  if (!request->waited_for) {
    delete request;
    return;
  }
  {
    std::lock_guard lock(g_queue_mutex);
    request->result = result;
    request->done = true;
  }
  g_request_done.notify_all();
}

}  // namespace

void set_request_handler(std::uint32_t message, RequestHandler handler) {
  if (message < kRequestLimit) g_handlers[message] = handler;
}

void set_request_wake(void (*wake_function)()) { g_wake = wake_function; }

void start_serving_requests() {
  g_window_thread = std::this_thread::get_id();
  std::lock_guard lock(g_queue_mutex);
  g_serving = true;
}

void stop_serving_requests() {
  std::deque<Request*> left;
  {
    std::lock_guard lock(g_queue_mutex);
    g_serving = false;
    left.swap(g_queue);
  }
  for (Request* request : left) complete(request, 0);
}

std::uint32_t send_request(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  if (std::this_thread::get_id() == g_window_thread.load()) return dispatch(message, wparam, lparam);
  Request request{message, wparam, lparam, 0, false, true};
  std::unique_lock lock(g_queue_mutex);
  if (!g_serving) return 0;
  g_queue.push_back(&request);
  wake();
  g_request_done.wait(lock, [&] { return request.done; });
  return request.result;
}

void post_request(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  {
    std::lock_guard lock(g_queue_mutex);
    if (!g_serving) return;
    g_queue.push_back(new Request{message, wparam, lparam, 0, false, false});
  }
  wake();
}

void process_pending_requests() {
  for (;;) {
    Request* request;
    {
      std::lock_guard lock(g_queue_mutex);
      if (g_queue.empty()) return;
      request = g_queue.front();
      g_queue.pop_front();
    }
    complete(request, dispatch(request->message, request->wparam, request->lparam));
  }
}

}  // namespace talven::vm

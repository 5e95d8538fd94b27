#include "vm/script_threads.h"

#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/clock.h"
#include "vm/call_gate.h"
#include "vm/interpreter.h"

namespace talven::vm {

std::atomic<std::uint32_t> g_application_active{1};

namespace {

struct ThreadSlot {
  // Held from start_thread until the slot is reclaimed; whoever takes it out joins it.
  std::thread thread;
  bool in_use = false;           // guarded by g_table_mutex
  std::atomic<bool> released{false};  // false while the thread is held back before its loop
  std::atomic<bool> finished{false};  // the loop has ended and freed its contexts
  std::atomic<std::uint32_t> alive{0};
  std::atomic<std::int32_t> suspend_count{0};
  std::atomic<std::uint32_t> wake_time{0};
  // Touched only by the owning thread's loop and its own built-in calls.
  ScriptContext* contexts[kContextStackDepth] = {};
  int depth = 0;
};

ThreadSlot g_slots[kThreadSlots];
std::uint8_t g_fonts[kThreadSlots];
std::mutex g_table_mutex;
RuntimeHooks g_hooks;

bool stopping() { return g_stop_flag.load(std::memory_order_relaxed) != 0; }

void free_context_stack(ThreadSlot& slot) {
  for (int i = slot.depth; i >= 0; --i) {
    free_context(slot.contexts[i]);
    slot.contexts[i] = nullptr;
  }
  slot.depth = 0;
}

void thread_loop(int index) {
  ThreadSlot& slot = g_slots[index];
  slot.released.wait(false);
  platform::lower_thread_priority();
  platform::yield_thread();
  std::uint32_t last_yield = platform::tick_count();
  constexpr int kSlicesPerClockRead = 16;
  int slices_since_clock = 0;
  // Between slices this loop only looks at what the thread's own built-in calls, other threads
  // and the application may change. While none of that is at stake, run_slice goes straight on
  // to the next slice (a block boundary costs less than a return here and a new call).
  SliceRun run;
  run.slices = kSlicesPerClockRead;
  run.data = &slot;
  run.go_on = [](const void* data) {
    const auto& s = *static_cast<const ThreadSlot*>(data);
    return s.suspend_count.load(std::memory_order_relaxed) < 1 && s.alive.load(std::memory_order_relaxed) != 0 &&
           g_application_active.load(std::memory_order_relaxed) != 0;
  };

  while (!stopping()) {
    if (slot.alive.load(std::memory_order_relaxed) == 0) break;
    ScriptContext* context = slot.contexts[slot.depth];
    if (context == nullptr) break;

    if (context->state == kEnded) {
      if (slot.depth == 0) break;
      // A program entered by `call` ended: its result becomes the caller's r0.
      std::uint32_t result = context->r[0];
      free_context(context);
      slot.contexts[slot.depth--] = nullptr;
      slot.contexts[slot.depth]->r[0] = result;
      continue;
    }
    if (context->state == kStopped) {
      // `exit`: close the whole application, without asking.
      g_stop_flag.store(1, std::memory_order_relaxed);
      if (g_hooks.request_close) g_hooks.request_close();
      break;
    }

    std::uint32_t wake = slot.wake_time.load(std::memory_order_relaxed);
    if (wake != 0 && static_cast<std::int32_t>(wake - platform::tick_count()) > 0) {
      platform::sleep_ms(1);
      continue;
    }
    slot.wake_time.store(0, std::memory_order_relaxed);
    int slices = 1;
    if (slot.suspend_count.load(std::memory_order_relaxed) < 1) slices = run_slice(*context, run);
    // Between slices the thread gives the processor away. A yield is a system call that costs
    // more than a slice of work, and the scheduler already shares the processors among running
    // threads, so an active application yields once per millisecond of running instead of after
    // every slice; every thread and the window thread still get their turns. Reading the clock
    // costs a sixth of a slice on a virtual machine's clock source, so the millisecond is looked
    // at every few slices only (a few microseconds apart, far below its resolution).
    if (g_application_active.load(std::memory_order_relaxed) != 0) {
      slices_since_clock += slices;
      if (slices_since_clock >= kSlicesPerClockRead) {
        slices_since_clock = 0;
        std::uint32_t now = platform::tick_count();
        if (now != last_yield) {
          platform::yield_thread();
          last_yield = now;
        }
      }
    } else {
      platform::sleep_ms(1);
    }
  }

  platform::sleep_ms(5);
  free_context_stack(slot);
  slot.finished.store(true);
  if (g_hooks.thread_ended) g_hooks.thread_ended();
}

// Joins the threads of slots whose loops have ended and frees those slots. Table lock held.
void reclaim_finished_slots() {
  for (auto& slot : g_slots) {
    if (slot.in_use && slot.finished.load() && slot.thread.joinable()) {
      slot.thread.join();
      slot.in_use = false;
    }
  }
}

int caller_slot() {
  ScriptContext* context = current_context();
  if (context == nullptr || context->slot >= static_cast<std::uint32_t>(kThreadSlots)) return -1;
  return static_cast<int>(context->slot);
}

// A slot number from a script that names a thread that exists (running or finished).
ThreadSlot* existing_slot(std::int32_t n) {
  if (n < 0 || n >= kThreadSlots) return nullptr;
  std::lock_guard lock(g_table_mutex);
  return g_slots[n].in_use ? &g_slots[n] : nullptr;
}

bool has_c_extension(const char* name) {
  const char* dot = std::strrchr(name, '.');
  return dot != nullptr && (dot[1] == 'c' || dot[1] == 'C') && dot[2] == '\0';
}

// The built-in lock is held by every handler; a handler that must wait for another thread lets
// go of it meanwhile, so that thread can finish a built-in call it is blocked in.
class UnlockedWhileWaiting {
 public:
  UnlockedWhileWaiting() { builtin_lock().unlock(); }
  ~UnlockedWhileWaiting() { builtin_lock().lock(); }
};

}  // namespace

void set_runtime_hooks(const RuntimeHooks& hooks) { g_hooks = hooks; }

ScriptContext* compile_program(const char* file_name, std::uint32_t program_size, std::uint32_t stack_size) {
  if (file_name == nullptr || !has_c_extension(file_name) || g_hooks.compile == nullptr) return nullptr;
  return g_hooks.compile(file_name, program_size, stack_size);
}

int start_thread(ScriptContext* context, bool suspended) {
  std::lock_guard lock(g_table_mutex);
  reclaim_finished_slots();
  for (int i = 0; i < kThreadSlots; ++i) {
    ThreadSlot& slot = g_slots[i];
    if (slot.in_use) continue;
    context->slot = static_cast<std::uint32_t>(i);
    slot.contexts[0] = context;
    slot.depth = 0;
    slot.alive = 1;
    slot.suspend_count = suspended ? 1 : 0;
    slot.wake_time = 0;
    slot.finished = false;
    slot.released = false;
    try {
      slot.thread = std::thread(thread_loop, i);
    } catch (const std::system_error&) {
      slot.contexts[0] = nullptr;
      return -1;
    }
    slot.in_use = true;
    g_fonts[i] = 0;
    slot.released = true;
    slot.released.notify_one();
    return i;
  }
  return -1;
}

bool start_entry_script(const char* file_name) {
  const VmSettings& settings = vm_settings();
  ScriptContext* context = compile_program(file_name, settings.program_size, settings.stack_size);
  if (context == nullptr) return false;
  if (start_thread(context, false) < 0) {
    free_context(context);
    return false;
  }
  return true;
}

bool any_thread_running() {
  std::lock_guard lock(g_table_mutex);
  for (auto& slot : g_slots)
    if (slot.in_use && !slot.finished.load()) return true;
  return false;
}

void stop_all_threads() {
  g_stop_flag.store(1);
  // Running threads get up to half a second to see the stop flag and end by themselves before
  // the wait below; once none is running there is nothing left to give time to. Window work is
  // served meanwhile, so a thread waiting for the window thread can end too.
  const std::uint32_t grace_start = platform::tick_count();
  while (any_thread_running() && platform::tick_count() - grace_start < 500) {
    if (g_hooks.pump_window_messages) g_hooks.pump_window_messages();
    platform::sleep_ms(1);
  }
  bool any = false;
  {
    std::lock_guard lock(g_table_mutex);
    for (auto& slot : g_slots) any = any || slot.thread.joinable();
  }
  if (!any) {
    g_stop_flag.store(0);
    return;
  }
  // Their loops end at the stop flag; meanwhile a thread may be waiting for the window thread.
  while (true) {
    bool all_done = true;
    {
      std::lock_guard lock(g_table_mutex);
      for (auto& slot : g_slots)
        if (slot.thread.joinable() && !slot.finished.load()) all_done = false;
    }
    if (all_done) break;
    if (g_hooks.pump_window_messages) g_hooks.pump_window_messages();
    platform::sleep_ms(1);
  }
  reset_thread_table();
}

void reset_thread_table() {
  std::lock_guard lock(g_table_mutex);
  for (auto& slot : g_slots) {
    if (slot.thread.joinable()) slot.thread.join();
    for (auto*& c : slot.contexts) c = nullptr;
    slot.depth = 0;
    slot.in_use = false;
    slot.alive = 0;
    slot.suspend_count = 0;
    slot.wake_time = 0;
    slot.finished = false;
  }
  g_stop_flag.store(0);
}

void vm_runtime_shutdown() {
  set_gate(nullptr);
  set_current_context(nullptr);
}

void vm_runtime_start() {
  vm_runtime_shutdown();
  set_gate(gate);
}

int current_thread_slot() { return caller_slot(); }

std::uint8_t& thread_font(int slot) { return g_fonts[slot & (kThreadSlots - 1)]; }

void suspend_all_threads() {
  for (auto& slot : g_slots) slot.suspend_count.fetch_add(1);
}

void resume_all_threads() {
  for (auto& slot : g_slots) {
    std::int32_t count = slot.suspend_count.load();
    while (count >= 1 && !slot.suspend_count.compare_exchange_weak(count, count - 1)) {
    }
  }
}

// ---- Control built-ins ----------------------------------------------------------------------

// Compiles the program named by the first argument for the calling thread, as `jump` and `call`
// do; nullptr when there is no caller, scripts are stopping, or it does not compile.
static ScriptContext* compile_for_caller(Address arguments, int& slot) {
  slot = caller_slot();
  auto name = load_string(argument_word(arguments, 0));
  if (slot < 0 || stopping() || !name) return nullptr;
  const VmSettings& settings = vm_settings();
  ScriptContext* next = compile_program(std::string(*name).c_str(), settings.program_size, settings.stack_size);
  if (next != nullptr) next->slot = static_cast<std::uint32_t>(slot);
  return next;
}

std::uint32_t bi_jump(Address arguments) {
  int t;
  ScriptContext* next = compile_for_caller(arguments, t);
  if (next == nullptr) return 0;
  ThreadSlot& slot = g_slots[t];
  ScriptContext* old = slot.contexts[slot.depth];
  slot.contexts[slot.depth] = next;
  set_current_context(next);  // the result 1 lands in the new program's r0
  free_context(old);
  return 1;
}

std::uint32_t bi_call(Address arguments) {
  int t;
  ScriptContext* next = compile_for_caller(arguments, t);
  if (next == nullptr) return 0;
  ThreadSlot& slot = g_slots[t];
  if (slot.depth + 1 >= kContextStackDepth) {
    free_context(next);
    return 0;
  }
  slot.contexts[++slot.depth] = next;
  // The caller's r0 is replaced by the called program's result when that program ends.
  return 0;
}

std::uint32_t bi_exit(Address) {
  if (ScriptContext* context = current_context()) context->state = kStopped;
  return 0;
}

std::uint32_t bi_setjmp(Address arguments) {
  ScriptContext* context = current_context();
  Address buffer = argument_word(arguments, 0);
  std::uint8_t* words = checked_pointer(buffer, sizeof(ScriptContext));
  int t = caller_slot();
  if (context == nullptr || words == nullptr || t < 0) return 0;
  std::uint32_t record[16];
  std::memcpy(record, context, sizeof record);
  std::uint32_t return_address = 0;
  load(context->r[kStackPointer], return_address);
  record[2] = return_address;
  record[8] = static_cast<std::uint32_t>(g_slots[t].depth);
  record[15] = context->r[kStackPointer] + 4;
  std::memcpy(words, record, sizeof record);
  return 0;
}

std::uint32_t bi_longjmp(Address arguments) {
  std::uint8_t* words = checked_pointer(argument_word(arguments, 0), sizeof(ScriptContext));
  std::uint32_t value = argument_word(arguments, 1);
  int t = caller_slot();
  if (words == nullptr || t < 0) return 0;
  std::uint32_t record[16];
  std::memcpy(record, words, sizeof record);
  ThreadSlot& slot = g_slots[t];
  std::uint32_t d = record[8];
  if (record[0] != static_cast<std::uint32_t>(t) || d >= static_cast<std::uint32_t>(kContextStackDepth) ||
      static_cast<std::uint32_t>(slot.depth) < d)
    return 0;
  ScriptContext* target = slot.contexts[d];
  if (target == nullptr || target->image_base != record[4] || target->stack_base != record[5] ||
      static_cast<std::int32_t>(target->r[kStackPointer]) > static_cast<std::int32_t>(record[15]))
    return 0;
  // Unwind the programs entered by `call` since the setjmp.
  while (static_cast<std::uint32_t>(slot.depth) > d) {
    free_context(slot.contexts[slot.depth]);
    slot.contexts[slot.depth--] = nullptr;
  }
  std::memcpy(target, record, sizeof record);
  set_current_context(target);
  return value != 0 ? value : 1;
}

std::uint32_t bi_thd_begin(Address arguments) {
  Address function = argument_word(arguments, 0);
  std::uint32_t argument = argument_word(arguments, 1);
  std::int32_t suspended = argument_int(arguments, 2);
  std::int32_t stack_size = argument_int(arguments, 3);
  ScriptContext* caller = current_context();
  if (caller == nullptr || stopping()) return static_cast<std::uint32_t>(-1);
  std::uint32_t size = stack_size < 1 ? caller->stack_size : stack_size < 1024 ? 1024u : static_cast<std::uint32_t>(stack_size);

  ScriptContext* context = create_shared_context(*caller, size);
  if (context == nullptr) return static_cast<std::uint32_t>(-1);
  // The function runs as if called with one argument; returning to 0xFFFFFFFF ends the thread.
  context->r[kStackPointer] -= 8;
  store<std::uint32_t>(context->r[kStackPointer], 0xFFFFFFFFu);
  store<std::uint32_t>(context->r[kStackPointer] + 4, argument);
  context->pc = function;
  int n = start_thread(context, suspended != 0);
  if (n < 0) {
    free_context(context);
    return static_cast<std::uint32_t>(-1);
  }
  return static_cast<std::uint32_t>(n);
}

std::uint32_t bi_thd_end(Address arguments) {
  std::int32_t n = argument_int(arguments, 0);
  const int caller = caller_slot();
  if (stopping() || n == caller) return 0;  // a thread cannot wait for itself
  std::thread thread;
  {
    ThreadSlot* slot = existing_slot(n);
    if (slot == nullptr) return 0;
    std::lock_guard lock(g_table_mutex);
    if (!slot->thread.joinable()) return 0;  // another caller is already ending it
    // A caller that is itself being ended must not start a wait: its ender waits for it, and two
    // threads ending each other would wait for ever. Every waiter is thus alive and every thread
    // waited for is not, so the waits never form a cycle.
    if (caller >= 0 && g_slots[caller].alive.load() == 0) return 0;
    slot->alive = 0;
    thread = std::move(slot->thread);
  }
  {
    UnlockedWhileWaiting unlocked;
    thread.join();
  }
  std::lock_guard lock(g_table_mutex);
  g_slots[n].in_use = false;
  return 1;
}

std::uint32_t bi_thd_suspend(Address arguments) {
  ThreadSlot* slot = stopping() ? nullptr : existing_slot(argument_int(arguments, 0));
  if (slot == nullptr) return static_cast<std::uint32_t>(-1);
  return static_cast<std::uint32_t>(slot->suspend_count.fetch_add(1) + 1);
}

std::uint32_t bi_thd_resume(Address arguments) {
  ThreadSlot* slot = stopping() ? nullptr : existing_slot(argument_int(arguments, 0));
  if (slot == nullptr) return static_cast<std::uint32_t>(-1);
  std::int32_t count = slot->suspend_count.load();
  if (count < 1) return 0;
  slot->suspend_count.store(count - 1);
  return static_cast<std::uint32_t>(count - 1);
}

std::uint32_t bi_sleep(Address arguments) {
  int t = caller_slot();
  if (stopping() || t < 0) return 0;
  g_slots[t].wake_time.store(platform::tick_count() + argument_word(arguments, 0));
  return 1;
}

namespace {
constexpr BuiltinEntry kControlBuiltins[] = {
    {0, "jump", 1, 1, bi_jump},
    {1, "call", 1, 1, bi_call},
    {2, "exit", 0, 1, bi_exit},
    {3, "setjmp", 1, 1, bi_setjmp},
    {4, "longjmp", 2, 1, bi_longjmp},
    {5, "thd_begin", 4, 1, bi_thd_begin},
    {6, "thd_end", 1, 1, bi_thd_end},
    {7, "thd_suspend", 1, 1, bi_thd_suspend},
    {8, "thd_resume", 1, 1, bi_thd_resume},
    {9, "sleep", 1, 1, bi_sleep},
};
}  // namespace

BuiltinSpan control_builtins() { return kControlBuiltins; }

}  // namespace talven::vm

namespace talven::vm {
namespace {
Address g_heap_base = 0;
std::uint32_t g_heap_size = 0;
}  // namespace

bool allocate_script_heap(std::uint32_t size) {
  free_script_heap();
  g_heap_base = script_alloc_zeroed(size);
  g_heap_size = g_heap_base != 0 ? size : 0;
  return g_heap_base != 0;
}

void free_script_heap() {
  if (g_heap_base != 0) script_free(g_heap_base);
  g_heap_base = 0;
  g_heap_size = 0;
}

Address script_heap_base() { return g_heap_base; }
std::uint32_t script_heap_size() { return g_heap_size; }

}  // namespace talven::vm

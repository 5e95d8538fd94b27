// Script threads: up to 32 slots, each an OS thread running interpreter slices on the top context
// of its own stack of program contexts; program loading; the control built-ins.
#pragma once
#include <atomic>
#include <cstdint>

#include "vm/call_gate.h"
#include "vm/program.h"

namespace talven::vm {

inline constexpr int kThreadSlots = 32;
inline constexpr int kContextStackDepth = 32;

// 1 while the application is active; cleared only when it loses the focus with GlobalFocus 0.
// Loops sleep 1 ms per turn instead of 0 while it is clear.
extern std::atomic<std::uint32_t> g_application_active;

// The services the threads need from the rest of the engine, installed at start-up.
struct RuntimeHooks {
  // Compiles a source file into a new context (image of `program_size` bytes, 0 = measured).
  // nullptr when it does not compile; the compiler has reported why.
  ScriptContext* (*compile)(const char* file_name, std::uint32_t program_size, std::uint32_t stack_size) = nullptr;
  // Closes the application as `exit` does: through the frame window's normal path, without asking
  // for confirmation (posted, never waited for).
  void (*request_close)() = nullptr;
  // Handles pending window-thread work while the window thread waits for script threads.
  void (*pump_window_messages)() = nullptr;
  // A thread's loop has ended (the window thread may be waiting for the last one to end).
  void (*thread_ended)() = nullptr;
};
void set_runtime_hooks(const RuntimeHooks& hooks);

// Compiles `file_name` (must end in ".c") with the given sizes. nullptr on failure.
ScriptContext* compile_program(const char* file_name, std::uint32_t program_size, std::uint32_t stack_size);

// Starts a thread with `context` as its entry-0 program. Returns the slot, or -1 (the context then
// stays with the caller). A suspended thread runs no slice until thd_resume.
int start_thread(ScriptContext* context, bool suspended);

// Compiles the entry script with ProgramSize and StackSize and starts it. False when it does not
// compile or no slot is free.
bool start_entry_script(const char* file_name);

// Sets the stop flag, waits for every script thread to end (pumping window work meanwhile), clears
// the thread table and the stop flag.
void stop_all_threads();

// Clears the thread table and the stop flag (no thread may be running).
void reset_thread_table();

// True while any slot holds a thread whose loop has not ended.
bool any_thread_running();

// The VM runtime around the threads: the gate, the built-in lock and the per-script state of the
// other subsystems.
void vm_runtime_start();
void vm_runtime_shutdown();

// Thread-slot state read by other built-ins.
int current_thread_slot();  // slot of the current context, -1 when none
std::uint8_t& thread_font(int slot);

// Pausing the application: every slot's suspend count up (or down) by one.
void suspend_all_threads();
void resume_all_threads();

// The VM's own span of built-ins: program control and threads (table entries 0 to 9).
BuiltinSpan control_builtins();

// The control built-ins (table entries 0 to 9).
std::uint32_t bi_jump(Address arguments);
std::uint32_t bi_call(Address arguments);
std::uint32_t bi_exit(Address arguments);
std::uint32_t bi_setjmp(Address arguments);
std::uint32_t bi_longjmp(Address arguments);
std::uint32_t bi_thd_begin(Address arguments);
std::uint32_t bi_thd_end(Address arguments);
std::uint32_t bi_thd_suspend(Address arguments);
std::uint32_t bi_thd_resume(Address arguments);
std::uint32_t bi_sleep(Address arguments);

}  // namespace talven::vm

namespace talven::vm {

// The script heap: one zero-filled block of HeapSize bytes where `extern` variables live, shared
// by every program. Allocated at start-up, freed at shutdown.
bool allocate_script_heap(std::uint32_t size);
void free_script_heap();
Address script_heap_base();
std::uint32_t script_heap_size();

}  // namespace talven::vm

// The engine's subsystems brought up and down in their fixed order, and the glue through which the
// window thread hands them window events. This is the one place that knows every subsystem.
#pragma once
#include <string>

#include "compiler/compiler.h"

#include "platform/window.h"

namespace talven::shell {

// Script sources are read as every data file is: loose files and archive members.
compiler::SourceReader data_file_source_reader();

struct RuntimeOptions {
  std::string log_file;  // debug-output lines also go here ("-": stdout)
  bool listing = false;  // write the compile listing of every compiled source
  void (*request_close)() = nullptr;
  void (*pump_window_messages)() = nullptr;
};

// Starts the subsystems in order (after the frame window exists) and the VM runtime.
void runtime_start(const RuntimeOptions& options);
// The shutdown order after the script threads have stopped.
void runtime_stop();

// The main source file (cp932 game path) of the last compile of a program when that file could
// not be opened; empty when the last compile got past opening it.
const std::string& unopened_main_source();

// Pausing the application stops sound, music, movies and CD audio and freezes the clock.
void runtime_pause_devices();
void runtime_resume_devices();

void runtime_window_resized();
void runtime_repaint();
// Asks the window thread to present the frame again (once, however often asked before it does);
// any thread.
void ask_for_present();

// Writes the picture shown at exit as a PNG. False when it could not be written.
bool runtime_write_screenshot(const std::string& host_path);

}  // namespace talven::shell

// State of the timing built-ins: 256 counter marks and the frame-rate meter.
#pragma once

namespace talven::shell {

// Every counter mark back to 0 and the frame-rate meter cleared, as at process start.
void reset_timing_builtins();

}  // namespace talven::shell

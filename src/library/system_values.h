// State behind getsystem/setsystem that other subsystems read or feed.
#pragma once
#include <cstdint>

namespace talven::library {

// The colour-mapping switch scripts set with setsystem("color_mapping", ...).
std::int32_t color_mapping();

// The sprite subsystem tells how many sprites are in use (getsystem "sp_count"); 0 until it does.
void set_sprite_count_source(int (*count)());

}  // namespace talven::library

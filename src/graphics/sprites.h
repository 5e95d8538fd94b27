// Sprites: retained drawing commands in 32 layers, redrawn onto the active page with the least
// pixel work, and the hit regions that follow them. Internal to graphics/.
//
// The records live in script memory in the layout scripts know (the SPRITE and HITREGION records
// of the SDK header): scripts change positions, planes, modes and flags through the addresses
// sp_set and hit_set return. The links between records (layer lists, parents, children, bound
// regions) are kept here as well and written into the records for scripts to read; the engine
// follows only its own copy, so a script that scribbles over a record can never send it outside
// script memory or round a cycle.
#pragma once
#include <cstdint>

#include "graphics/planes.h"

namespace talven::graphics {

inline constexpr int kSpriteRecords = 4096;
inline constexpr std::uint32_t kSpriteBytes = 144;
inline constexpr int kSpriteLayers = 32;
inline constexpr int kExposedFragments = 8192;
inline constexpr int kHitRegions = 1024;
inline constexpr std::uint32_t kHitRegionBytes = 44;

// Byte offsets of the sprite record's fields.
enum SpriteField : std::uint32_t {
  kSpriteKind = 0,          // u8: 0 free, 1 hidden, 2 drawn
  kSpriteLayer = 1,         // u8
  kSpriteFlags = 2,         // u16
  kSpriteMirrorX = 4,       // u8
  kSpriteMirrorY = 5,       // u8
  kSpriteShift = 6,         // u8: fraction bits of x and y
  kSpritePriority = 8,
  kSpritePlane = 12,
  kSpriteX = 16,
  kSpriteY = 20,
  kSpritePivotX = 24,
  kSpritePivotY = 28,
  kSpriteScaleX = 32,       // 16.16
  kSpriteScaleY = 36,
  kSpriteEffectiveScaleX = 40,
  kSpriteEffectiveScaleY = 44,
  kSpriteAngle = 48,        // u16, 2048 to a turn
  kSpriteEffectiveAngle = 50,
  kSpriteSourceRect = 52,
  kSpriteMode = 68,         // 12-byte blit mode record
  kSpriteScreenRect = 80,
  kSpriteDestinationRect = 96,
  kSpriteChildCount = 112,
  kSpriteChildren = 116,
  kSpriteParent = 120,
  kSpritePrevious = 124,
  kSpriteNext = 128,
  kSpriteHitRegions = 132,
  kSpriteExposed = 136,
};

// Flag bits.
inline constexpr std::uint16_t kSpriteChanged = 0x0001, kSpriteChangedToo = 0x0002, kSpriteSmoothing = 0x0010,
                               kSpriteRemove = 0x2000, kSpriteExposedFlag = 0x4000, kSpriteOnPage = 0x8000;

// Runtime start: the pool in script memory, as sp_init(-1) leaves it. Runtime stop: everything
// freed. `smoothing` is the Smoothing setting (bilinear drawing of turned and scaled sprites).
void sprites_start(bool smoothing);
void sprites_stop();
void set_smoothing(std::int32_t value);
std::int32_t smoothing();
// Records in use (kind not 0): the sp_count system value.
std::uint32_t sprite_count();

// Where the last sp_draw spent its time, in seconds (for benchmarks and profiling): finding what
// to redraw, listing the background pieces to copy, and copying them and drawing the sprites (one
// step, as the bands of rows do both).
struct SpriteFrameTimes {
  double prepare = 0, background = 0, drawing = 0;
};
SpriteFrameTimes last_sprite_frame_times();

std::uint32_t bi_sp_flag(vm::Address arguments);
std::uint32_t bi_sp_init(vm::Address arguments);
std::uint32_t bi_sp_setbg(vm::Address arguments);
std::uint32_t bi_sp_getbg(vm::Address arguments);
std::uint32_t bi_sp_redraw(vm::Address arguments);
std::uint32_t bi_sp_set(vm::Address arguments);
std::uint32_t bi_sp_reset(vm::Address arguments);
std::uint32_t bi_sp_link(vm::Address arguments);
std::uint32_t bi_sp_unlink(vm::Address arguments);
std::uint32_t bi_sp_draw(vm::Address arguments);
std::uint32_t bi_sp_bgorg(vm::Address arguments);
std::uint32_t bi_sp_org(vm::Address arguments);
std::uint32_t bi_sp_sort(vm::Address arguments);
std::uint32_t bi_sp_rect(vm::Address arguments);
std::uint32_t bi_hit_init(vm::Address arguments);
std::uint32_t bi_hit_set(vm::Address arguments);
std::uint32_t bi_hit_reset(vm::Address arguments);
std::uint32_t bi_hit_check(vm::Address arguments);
std::uint32_t bi_hit_rect(vm::Address arguments);
std::uint32_t bi_hit_point(vm::Address arguments);

}  // namespace talven::graphics

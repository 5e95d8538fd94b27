// The script library's built-ins: strings, memory, math, noise, curves, key frames, rectangles,
// regular expressions, system, files, native libraries, clipboard and checksums.
#pragma once
#include <cstdint>

#include "vm/script_memory.h"

namespace talven::library {

using vm::Address;

// Each file's part of reset_library_state.
void reset_regular_expressions();
void reset_math_state();
void reset_strtok();
void reset_searches();
void reset_native_libraries();
void reset_pending_caption();

// Regular expressions
std::uint32_t bi_reg_new(Address arguments);
std::uint32_t bi_reg_free(Address arguments);
std::uint32_t bi_reg_search(Address arguments);
std::uint32_t bi_reg_match(Address arguments);
std::uint32_t bi_match_new(Address arguments);
std::uint32_t bi_match_free(Address arguments);
std::uint32_t bi_match_clear(Address arguments);

// Memory
std::uint32_t bi_malloc(Address arguments);
std::uint32_t bi_realloc(Address arguments);
std::uint32_t bi_free(Address arguments);
std::uint32_t bi_memcpy(Address arguments);
std::uint32_t bi_memmove(Address arguments);
std::uint32_t bi_memset(Address arguments);
std::uint32_t bi_memcmp(Address arguments);
std::uint32_t bi_memswap(Address arguments);

// Math, noise, curves, key frames
std::uint32_t bi_srand(Address arguments);
std::uint32_t bi_rand(Address arguments);
std::uint32_t bi_abs(Address arguments);
std::uint32_t bi_sgn(Address arguments);
std::uint32_t bi_tsin(Address arguments);
std::uint32_t bi_tcos(Address arguments);
std::uint32_t bi_tatan(Address arguments);
std::uint32_t bi_random(Address arguments);
std::uint32_t bi_fabs(Address arguments);
std::uint32_t bi_sqrt(Address arguments);
std::uint32_t bi_pow(Address arguments);
std::uint32_t bi_log(Address arguments);
std::uint32_t bi_exp(Address arguments);
std::uint32_t bi_floor(Address arguments);
std::uint32_t bi_ceil(Address arguments);
std::uint32_t bi_sin(Address arguments);
std::uint32_t bi_cos(Address arguments);
std::uint32_t bi_tan(Address arguments);
std::uint32_t bi_asin(Address arguments);
std::uint32_t bi_acos(Address arguments);
std::uint32_t bi_atan(Address arguments);
std::uint32_t bi_ftoa(Address arguments);
std::uint32_t bi_perlin_init(Address arguments);
std::uint32_t bi_perlin_noise(Address arguments);
std::uint32_t bi_bezier(Address arguments);
std::uint32_t bi_neville(Address arguments);
std::uint32_t bi_linear(Address arguments);
std::uint32_t bi_kf_setkey(Address arguments);
std::uint32_t bi_kf_calc(Address arguments);
std::uint32_t bi_kf_getindex(Address arguments);
std::uint32_t bi_kf_getkey(Address arguments);

// Directory search
std::uint32_t bi_find_first(Address arguments);
std::uint32_t bi_find_next(Address arguments);
std::uint32_t bi_find_close(Address arguments);

// Rectangles
std::uint32_t bi_rc_empty(Address arguments);
std::uint32_t bi_rc_set(Address arguments);
std::uint32_t bi_rc_setwh(Address arguments);
std::uint32_t bi_rc_copy(Address arguments);
std::uint32_t bi_rc_move(Address arguments);
std::uint32_t bi_rc_intersect(Address arguments);
std::uint32_t bi_rc_union(Address arguments);
std::uint32_t bi_rc_inflate(Address arguments);
std::uint32_t bi_rc_in(Address arguments);
std::uint32_t bi_rc_check(Address arguments);

// Strings and paths
std::uint32_t bi_strlen(Address arguments);
std::uint32_t bi_strclen(Address arguments);
std::uint32_t bi_strcpy(Address arguments);
std::uint32_t bi_strncpy(Address arguments);
std::uint32_t bi_strcat(Address arguments);
std::uint32_t bi_strcmp(Address arguments);
std::uint32_t bi_strcmpi(Address arguments);
std::uint32_t bi_strlwr(Address arguments);
std::uint32_t bi_strupr(Address arguments);
std::uint32_t bi_strchr(Address arguments);
std::uint32_t bi_strtok(Address arguments);
std::uint32_t bi_strcspn(Address arguments);
std::uint32_t bi_strspn(Address arguments);
std::uint32_t bi_strstr(Address arguments);
std::uint32_t bi_strpbrk(Address arguments);
std::uint32_t bi_strdup(Address arguments);
std::uint32_t bi_strndup(Address arguments);
std::uint32_t bi_strtol(Address arguments);
std::uint32_t bi_strtoul(Address arguments);
std::uint32_t bi_strtof(Address arguments);
std::uint32_t bi_sprintf(Address arguments);
std::uint32_t bi_splitpath(Address arguments);
std::uint32_t bi_makepath(Address arguments);
std::uint32_t bi_hash32(Address arguments);

// Directories, files, system
std::uint32_t bi_dir_getpath(Address arguments);
std::uint32_t bi_dir_getcur(Address arguments);
std::uint32_t bi_dir_setcur(Address arguments);
std::uint32_t bi_dir_create(Address arguments);
std::uint32_t bi_dir_delete(Address arguments);
std::uint32_t bi_file_copy(Address arguments);
std::uint32_t bi_file_move(Address arguments);
std::uint32_t bi_file_delete(Address arguments);
std::uint32_t bi_file_size(Address arguments);
std::uint32_t bi_file_check(Address arguments);
std::uint32_t bi_file_getattr(Address arguments);
std::uint32_t bi_file_setattr(Address arguments);
std::uint32_t bi_file_gettime(Address arguments);
std::uint32_t bi_file_settime(Address arguments);
std::uint32_t bi_wallpaper(Address arguments);
std::uint32_t bi_shell(Address arguments);
std::uint32_t bi_exec(Address arguments);
std::uint32_t bi_mbox(Address arguments);
std::uint32_t bi_caption(Address arguments);

// Clipboard, checksums, native libraries
std::uint32_t bi_clip_write(Address arguments);
std::uint32_t bi_clip_read(Address arguments);
std::uint32_t bi_crc16(Address arguments);
std::uint32_t bi_crc32(Address arguments);
std::uint32_t bi_dll_load(Address arguments);
std::uint32_t bi_dll_unload(Address arguments);
std::uint32_t bi_dll_proc(Address arguments);
std::uint32_t bi_dll_call(Address arguments);

}  // namespace talven::library

// The table of built-in functions. A script declares built-ins after `#trap` lines in exactly
// this order, so an entry's index is the number compiled code carries: never reorder it.
// Entries whose handler is still nullptr belong to subsystems that are not built yet; the gate
// tells the user so when a script calls one.
#include "archive/file_builtins.h"
#include "graphics/image_files.h"
#include "graphics/planes.h"
#include "graphics/presentation.h"
#include "library/library_builtins.h"
#include "shell/shell_builtins.h"
#include "vm/call_gate.h"
#include "vm/script_threads.h"

namespace talven::vm {

const Builtin kBuiltins[kBuiltinCount] = {
    // Control and threads
    {1, "jump", bi_jump, 1},  // 0
    {1, "call", bi_call, 1},  // 1
    {1, "exit", bi_exit, 0},  // 2
    {1, "setjmp", bi_setjmp, 1},  // 3
    {1, "longjmp", bi_longjmp, 2},  // 4
    {1, "thd_begin", bi_thd_begin, 4},  // 5
    {1, "thd_end", bi_thd_end, 1},  // 6
    {1, "thd_suspend", bi_thd_suspend, 1},  // 7
    {1, "thd_resume", bi_thd_resume, 1},  // 8
    {1, "sleep", bi_sleep, 1},  // 9
    // Configuration files
    {1, "ini_seti", shell::bi_ini_seti, 4},  // 10
    {1, "ini_sets", shell::bi_ini_sets, 4},  // 11
    {1, "ini_geti", shell::bi_ini_geti, 4},  // 12
    {1, "ini_gets", shell::bi_ini_gets, 6},  // 13
    // Palettes and pixels
    {1, "pal_map", graphics::bi_pal_map, 1},  // 14
    {1, "pal_load", graphics::bi_pal_load, 4},  // 15
    {1, "pal_set", graphics::bi_pal_set, 2},  // 16
    {1, "pal_get", graphics::bi_pal_get, 1},  // 17
    {1, "pal_sets", graphics::bi_pal_sets, 3},  // 18
    {1, "pal_gets", graphics::bi_pal_gets, 3},  // 19
    {1, "pal_change", graphics::bi_pal_change, 0},  // 20
    {1, "getpixel", graphics::bi_getpixel, 3},  // 21
    {1, "rgbtohsv", graphics::bi_rgbtohsv, 1},  // 22
    {1, "hsvtorgb", graphics::bi_hsvtorgb, 1},  // 23
    // Planes and drawing
    {1, "gclip", graphics::bi_gclip, 2},  // 24
    {1, "ginit", graphics::bi_ginit, 0},  // 25
    {1, "galloc", graphics::bi_galloc, 4},  // 26
    {1, "gfree", graphics::bi_gfree, 1},  // 27
    {1, "gload", graphics::bi_gload, 2},  // 28
    {1, "gsave", graphics::bi_gsave, 3},  // 29
    {1, "gcopy", graphics::bi_gcopy, 6},  // 30
    {1, "gblit", graphics::bi_gblit, 6},  // 31
    {1, "gblita", graphics::bi_gblita, 6},  // 32
    {1, "gclear", graphics::bi_gclear, 3},  // 33
    {1, "gfill", graphics::bi_gfill, 6},  // 34
    {1, "gline", graphics::bi_gline, 6},  // 35
    {1, "gpoly", graphics::bi_gpoly, 4},  // 36
    {1, "gattach", graphics::bi_gattach, 2},  // 37
    {1, "gdetach", graphics::bi_gdetach, 1},  // 38
    {1, "ggetpal", graphics::bi_ggetpal, 4},  // 39
    {1, "gsetpal", graphics::bi_gsetpal, 4},  // 40
    {1, "ginfo", graphics::bi_ginfo, 2},  // 41
    {1, "dload", graphics::bi_dload, 5},  // 42
    {1, "dcopy", graphics::bi_dcopy, 5},  // 43
    // Software 3D
    {1, "p3d_tex", nullptr, 1},  // 44
    {1, "p3d_init", nullptr, 4},  // 45
    {1, "p3d_uninit", nullptr, 0},  // 46
    {1, "p3d_load", nullptr, 1},  // 47
    {1, "p3d_free", nullptr, 1},  // 48
    {1, "p3d_normal", nullptr, 1},  // 49
    {1, "p3d_clear", nullptr, 0},  // 50
    {1, "p3d_view", nullptr, 2},  // 51
    {1, "p3d_env", nullptr, 3},  // 52
    {1, "p3d_light", nullptr, 4},  // 53
    {1, "p3d_material", nullptr, 3},  // 54
    {1, "p3d_setobj", nullptr, 3},  // 55
    {1, "p3d_render", nullptr, 0},  // 56
    // Sprites
    {0, "sp_flag", nullptr, 1},  // 57
    {1, "sp_init", nullptr, 1},  // 58
    {1, "sp_setbg", nullptr, 1},  // 59
    {0, "sp_getbg", nullptr, 0},  // 60
    {1, "sp_redraw", nullptr, 1},  // 61
    {0, "sp_set", nullptr, 7},  // 62
    {0, "sp_reset", nullptr, 1},  // 63
    {0, "sp_link", nullptr, 2},  // 64
    {0, "sp_unlink", nullptr, 1},  // 65
    {1, "sp_draw", nullptr, 2},  // 66
    {0, "sp_bgorg", nullptr, 2},  // 67
    {0, "sp_org", nullptr, 3},  // 68
    {1, "sp_sort", nullptr, 2},  // 69
    {0, "sp_rect", nullptr, 2},  // 70
    // Hit regions
    {1, "hit_init", nullptr, 1},  // 71
    {1, "hit_set", nullptr, 5},  // 72
    {1, "hit_reset", nullptr, 1},  // 73
    {1, "hit_check", nullptr, 1},  // 74
    {1, "hit_rect", nullptr, 2},  // 75
    {1, "hit_point", nullptr, 3},  // 76
    // Pages and screen
    {1, "setorg", graphics::bi_setorg, 2},  // 77
    {1, "vpage", graphics::bi_vpage, 1},  // 78
    {1, "apage", graphics::bi_apage, 1},  // 79
    {1, "update", graphics::bi_update, 1},  // 80
    // Text and fonts
    {1, "font_list", nullptr, 2},  // 81
    {1, "font_use", nullptr, 1},  // 82
    {1, "font_set", nullptr, 2},  // 83
    {1, "font_get", nullptr, 2},  // 84
    {1, "font_abc", nullptr, 3},  // 85
    {1, "font_kern", nullptr, 2},  // 86
    {1, "gtext", nullptr, 5},  // 87
    {1, "gtextf", nullptr, -1},  // 88
    // Other drawing functions
    {1, "drt_init", graphics::bi_drt_init, 0},  // 89
    {1, "drt_set", graphics::bi_drt_set, 1},  // 90
    {1, "drt_copy", graphics::bi_drt_copy, 5},  // 91
    // MIDI
    {1, "midi_load", nullptr, 1},  // 92
    {1, "midi_free", nullptr, 0},  // 93
    {1, "midi_play", nullptr, 1},  // 94
    {1, "midi_stop", nullptr, 1},  // 95
    {1, "midi_pause", nullptr, 0},  // 96
    {1, "midi_replay", nullptr, 0},  // 97
    {1, "midi_setvol", nullptr, 1},  // 98
    {1, "midi_getvol", nullptr, 0},  // 99
    {1, "midi_isplay", nullptr, 0},  // 100
    {1, "midi_getpos", nullptr, 0},  // 101
    {1, "midi_repeat", nullptr, 1},  // 102
    // Sound
    {1, "snd_load", nullptr, 2},  // 103
    {1, "snd_loads", nullptr, 2},  // 104
    {1, "snd_free", nullptr, 1},  // 105
    {1, "snd_play", nullptr, 2},  // 106
    {1, "snd_stop", nullptr, 1},  // 107
    {1, "snd_pause", nullptr, 1},  // 108
    {1, "snd_replay", nullptr, 1},  // 109
    {1, "snd_setvol", nullptr, 2},  // 110
    {1, "snd_getvol", nullptr, 1},  // 111
    {1, "snd_setpan", nullptr, 2},  // 112
    {1, "snd_getpan", nullptr, 1},  // 113
    {1, "snd_setfreq", nullptr, 2},  // 114
    {1, "snd_getfreq", nullptr, 1},  // 115
    {1, "snd_isplay", nullptr, 1},  // 116
    {1, "snd_setloop", nullptr, 2},  // 117
    {1, "snd_setpos", nullptr, 2},  // 118
    {1, "snd_getpos", nullptr, 1},  // 119
    {1, "snd_getlen", nullptr, 1},  // 120
    {1, "snd_gettext", nullptr, 2},  // 121
    {1, "snd_setmargin", nullptr, 1},  // 122
    {1, "snd_setchorus", nullptr, 2},  // 123
    {1, "snd_setcompressor", nullptr, 2},  // 124
    {1, "snd_setdistortion", nullptr, 2},  // 125
    {1, "snd_setecho", nullptr, 2},  // 126
    {1, "snd_setflanger", nullptr, 2},  // 127
    {1, "snd_setgargle", nullptr, 2},  // 128
    {1, "snd_setparameq", nullptr, 2},  // 129
    {1, "snd_setreverb", nullptr, 2},  // 130
    // CD audio
    {1, "cd_play", nullptr, 2},  // 131
    {1, "cd_stop", nullptr, 1},  // 132
    {1, "cd_pause", nullptr, 0},  // 133
    {1, "cd_replay", nullptr, 0},  // 134
    {1, "cd_setvol", nullptr, 1},  // 135
    {1, "cd_getvol", nullptr, 0},  // 136
    {1, "cd_isplay", nullptr, 0},  // 137
    {1, "cd_getpos", nullptr, 1},  // 138
    {1, "cd_getlen", nullptr, 1},  // 139
    {1, "cd_repeat", nullptr, 1},  // 140
    {1, "cd_eject", nullptr, 0},  // 141
    // Movie
    {1, "media_open", nullptr, 1},  // 142
    {1, "media_close", nullptr, 0},  // 143
    {1, "media_play", nullptr, 0},  // 144
    {1, "media_stop", nullptr, 0},  // 145
    {1, "media_pause", nullptr, 0},  // 146
    {1, "media_replay", nullptr, 0},  // 147
    {1, "media_isplay", nullptr, 0},  // 148
    {1, "media_repeat", nullptr, 1},  // 149
    {1, "media_size", nullptr, 1},  // 150
    {1, "media_setvol", nullptr, 1},  // 151
    // Input
    {1, "getkey", nullptr, 1},  // 152
    {1, "getjoy", nullptr, 2},  // 153
    {1, "getmouse", nullptr, 1},  // 154
    {1, "getpoint", nullptr, 1},  // 155
    {1, "cur_set", nullptr, 1},  // 156
    {1, "cur_clip", nullptr, 1},  // 157
    {1, "cur_setpos", nullptr, 2},  // 158
    // Timing
    {1, "getcount", shell::bi_getcount, 1},  // 159
    {1, "setcount", shell::bi_setcount, 2},  // 160
    {1, "gettime", shell::bi_gettime, 1},  // 161
    {1, "fps", shell::bi_fps, 0},  // 162
    // Regular expressions
    {1, "reg_new", library::bi_reg_new, 2},  // 163
    {1, "reg_free", library::bi_reg_free, 1},  // 164
    {1, "reg_search", library::bi_reg_search, 7},  // 165
    {1, "reg_match", library::bi_reg_match, 6},  // 166
    {1, "match_new", library::bi_match_new, 0},  // 167
    {1, "match_free", library::bi_match_free, 1},  // 168
    {1, "match_clear", library::bi_match_clear, 1},  // 169
    // Pack files and files
    {1, "pack_save", archive::bi_pack_save, 3},  // 170
    {1, "pack_open", archive::bi_pack_open, 1},  // 171
    {1, "pack_close", archive::bi_pack_close, 1},  // 172
    {1, "pack_read", archive::bi_pack_read, 3},  // 173
    {1, "pack_seek", archive::bi_pack_seek, 3},  // 174
    {1, "pack_size", archive::bi_pack_size, 1},  // 175
    {1, "fopen", archive::bi_fopen, 2},  // 176
    {1, "fclose", archive::bi_fclose, 1},  // 177
    {1, "fread", archive::bi_fread, 4},  // 178
    {1, "fwrite", archive::bi_fwrite, 4},  // 179
    {1, "fseek", archive::bi_fseek, 3},  // 180
    {1, "ftell", archive::bi_ftell, 1},  // 181
    {1, "fgets", archive::bi_fgets, 3},  // 182
    {1, "fputs", archive::bi_fputs, 2},  // 183
    {1, "sysfile", archive::bi_sysfile, 3},  // 184
    {1, "sysio", archive::bi_sysio, 1},  // 185
    {1, "mload", archive::bi_mload, 3},  // 186
    // Memory
    {1, "malloc", library::bi_malloc, 1},  // 187
    {1, "realloc", library::bi_realloc, 2},  // 188
    {1, "free", library::bi_free, 1},  // 189
    {1, "memcpy", library::bi_memcpy, 3},  // 190
    {1, "memmove", library::bi_memmove, 3},  // 191
    {1, "memset", library::bi_memset, 3},  // 192
    {1, "memcmp", library::bi_memcmp, 3},  // 193
    {1, "memswap", library::bi_memswap, 3},  // 194
    // Math, noise, curves, keyframes
    {0, "srand", library::bi_srand, 1},  // 195
    {0, "rand", library::bi_rand, 0},  // 196
    {0, "abs", library::bi_abs, 1},  // 197
    {0, "sgn", library::bi_sgn, 1},  // 198
    {0, "tsin", library::bi_tsin, 1},  // 199
    {0, "tcos", library::bi_tcos, 1},  // 200
    {0, "tatan", library::bi_tatan, 2},  // 201
    {0, "random", library::bi_random, 0},  // 202
    {0, "fabs", library::bi_fabs, 1},  // 203
    {0, "sqrt", library::bi_sqrt, 1},  // 204
    {0, "pow", library::bi_pow, 2},  // 205
    {0, "log", library::bi_log, 1},  // 206
    {0, "exp", library::bi_exp, 1},  // 207
    {0, "floor", library::bi_floor, 1},  // 208
    {0, "ceil", library::bi_ceil, 1},  // 209
    {0, "sin", library::bi_sin, 1},  // 210
    {0, "cos", library::bi_cos, 1},  // 211
    {0, "tan", library::bi_tan, 1},  // 212
    {0, "asin", library::bi_asin, 1},  // 213
    {0, "acos", library::bi_acos, 1},  // 214
    {0, "atan", library::bi_atan, 2},  // 215
    {0, "ftoa", library::bi_ftoa, 2},  // 216
    {0, "perlin_init", library::bi_perlin_init, 2},  // 217
    {0, "perlin_noise", library::bi_perlin_noise, 3},  // 218
    {0, "bezier", library::bi_bezier, 4},  // 219
    {0, "neville", library::bi_neville, 4},  // 220
    {0, "linear", library::bi_linear, 3},  // 221
    {0, "kf_setkey", library::bi_kf_setkey, 3},  // 222
    {0, "kf_calc", library::bi_kf_calc, 2},  // 223
    {0, "kf_getindex", library::bi_kf_getindex, 3},  // 224
    {0, "kf_getkey", library::bi_kf_getkey, 4},  // 225
    // Directory search
    {1, "find_first", library::bi_find_first, 2},  // 226
    {1, "find_next", library::bi_find_next, 2},  // 227
    {1, "find_close", library::bi_find_close, 1},  // 228
    // Rectangles, strings, paths
    {0, "rc_empty", library::bi_rc_empty, 1},  // 229
    {0, "rc_set", library::bi_rc_set, 5},  // 230
    {0, "rc_setwh", library::bi_rc_setwh, 5},  // 231
    {0, "rc_copy", library::bi_rc_copy, 2},  // 232
    {0, "rc_move", library::bi_rc_move, 3},  // 233
    {0, "rc_intersect", library::bi_rc_intersect, 3},  // 234
    {0, "rc_union", library::bi_rc_union, 3},  // 235
    {0, "rc_inflate", library::bi_rc_inflate, 3},  // 236
    {0, "rc_in", library::bi_rc_in, 3},  // 237
    {0, "rc_check", library::bi_rc_check, 1},  // 238
    {0, "strlen", library::bi_strlen, 1},  // 239
    {0, "strclen", library::bi_strclen, 1},  // 240
    {0, "strcpy", library::bi_strcpy, 2},  // 241
    {0, "strncpy", library::bi_strncpy, 3},  // 242
    {0, "strcat", library::bi_strcat, 2},  // 243
    {0, "strcmp", library::bi_strcmp, 2},  // 244
    {0, "strcmpi", library::bi_strcmpi, 2},  // 245
    {0, "strlwr", library::bi_strlwr, 1},  // 246
    {0, "strupr", library::bi_strupr, 1},  // 247
    {0, "strchr", library::bi_strchr, 2},  // 248
    {0, "strtok", library::bi_strtok, 2},  // 249
    {0, "strcspn", library::bi_strcspn, 2},  // 250
    {0, "strspn", library::bi_strspn, 2},  // 251
    {0, "strstr", library::bi_strstr, 2},  // 252
    {0, "strpbrk", library::bi_strpbrk, 2},  // 253
    {0, "strdup", library::bi_strdup, 1},  // 254
    {0, "strndup", library::bi_strndup, 2},  // 255
    {0, "strtol", library::bi_strtol, 3},  // 256
    {0, "strtoul", library::bi_strtoul, 3},  // 257
    {0, "strtof", library::bi_strtof, 2},  // 258
    {0, "sprintf", library::bi_sprintf, -1},  // 259
    {0, "splitpath", library::bi_splitpath, 5},  // 260
    {0, "makepath", library::bi_makepath, 5},  // 261
    {0, "hash32", library::bi_hash32, 1},  // 262
    // Directories, files, system
    {1, "dir_getpath", library::bi_dir_getpath, 2},  // 263
    {1, "dir_getcur", library::bi_dir_getcur, 1},  // 264
    {1, "dir_setcur", library::bi_dir_setcur, 1},  // 265
    {1, "dir_create", library::bi_dir_create, 1},  // 266
    {1, "dir_delete", library::bi_dir_delete, 1},  // 267
    {1, "file_copy", library::bi_file_copy, 3},  // 268
    {1, "file_move", library::bi_file_move, 2},  // 269
    {1, "file_delete", library::bi_file_delete, 1},  // 270
    {1, "file_size", library::bi_file_size, 1},  // 271
    {1, "file_check", library::bi_file_check, 1},  // 272
    {1, "file_getattr", library::bi_file_getattr, 1},  // 273
    {1, "file_setattr", library::bi_file_setattr, 2},  // 274
    {1, "file_gettime", library::bi_file_gettime, 4},  // 275
    {1, "file_settime", library::bi_file_settime, 4},  // 276
    {1, "wallpaper", library::bi_wallpaper, 2},  // 277
    {1, "shell", library::bi_shell, 3},  // 278
    {1, "exec", library::bi_exec, 1},  // 279
    {1, "getsystem", shell::bi_getsystem, 1},  // 280
    {1, "setsystem", shell::bi_setsystem, 2},  // 281
    {1, "mbox", library::bi_mbox, 3},  // 282
    {1, "caption", library::bi_caption, 1},  // 283
    // Image filters
    {1, "freemap", nullptr, 5},  // 284
    {1, "smooth", nullptr, 5},  // 285
    {1, "rotate", nullptr, 6},  // 286
    {1, "tiled", nullptr, 6},  // 287
    {1, "scroll", nullptr, 4},  // 288
    {1, "noise", nullptr, 3},  // 289
    {1, "slice", nullptr, 3},  // 290
    {1, "gradation", nullptr, 5},  // 291
    {1, "mosaic", nullptr, 7},  // 292
    {1, "monotone", nullptr, 4},  // 293
    {1, "blur", nullptr, 6},  // 294
    {1, "fire", nullptr, 2},  // 295
    // Effect engines
    {1, "ef_init", nullptr, 5},  // 296
    {1, "ef_free", nullptr, 1},  // 297
    {1, "ef_copy", nullptr, 1},  // 298
    {1, "ef_info", nullptr, 2},  // 299
    {1, "ef_rotate", nullptr, 5},  // 300
    {1, "ef_tunnel", nullptr, 4},  // 301
    {1, "ef_land", nullptr, 5},  // 302
    {1, "ef_ball", nullptr, 5},  // 303
    {1, "ef_whirl", nullptr, 2},  // 304
    {1, "ef_raster", nullptr, 4},  // 305
    {1, "ef_blob", nullptr, 5},  // 306
    {1, "ef_water", nullptr, 2},  // 307
    {1, "ef_clear", nullptr, 1},  // 308
    {1, "ef_lens", nullptr, 5},  // 309
    // Keyboard buffer
    {1, "key_init", nullptr, 0},  // 310
    {1, "key_get", nullptr, 0},  // 311
    // Clipboard
    {1, "clip_write", library::bi_clip_write, 1},  // 312
    {1, "clip_read", library::bi_clip_read, 2},  // 313
    // Network
    {1, "net_open", nullptr, 2},  // 314
    {1, "net_close", nullptr, 0},  // 315
    {1, "net_send", nullptr, 3},  // 316
    {1, "net_recv", nullptr, 3},  // 317
    {1, "net_state", nullptr, 0},  // 318
    // Checksums
    {1, "crc16", library::bi_crc16, 2},  // 319
    {1, "crc32", library::bi_crc32, 2},  // 320
    // DLL calls
    {1, "dll_load", library::bi_dll_load, 1},  // 321
    {1, "dll_unload", library::bi_dll_unload, 1},  // 322
    {1, "dll_proc", library::bi_dll_proc, 2},  // 323
    {1, "dll_call", library::bi_dll_call, -1},  // 324
    // Debug output
    {1, "log_clear", shell::bi_log_clear, 0},  // 325
    {1, "log_out", shell::bi_log_out, -1},  // 326
};

}  // namespace talven::vm

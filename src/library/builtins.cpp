// The built-ins of this module, by table index. The script library: regular expressions, memory, math, strings, rectangles, folders and files, programs, message boxes, the caption, the clipboard, network, checksums and native libraries.
// Entries whose handler is nullptr are not built yet; the gate tells the user so when a script
// calls one.
#include "library/library.h"

#include "library/library_builtins.h"

namespace talven::library {

namespace {

constexpr vm::BuiltinEntry kBuiltins[] = {
    // Regular expressions
    {163, "reg_new", 2, 1, bi_reg_new},
    {164, "reg_free", 1, 1, bi_reg_free},
    {165, "reg_search", 7, 1, bi_reg_search},
    {166, "reg_match", 6, 1, bi_reg_match},
    {167, "match_new", 0, 1, bi_match_new},
    {168, "match_free", 1, 1, bi_match_free},
    {169, "match_clear", 1, 1, bi_match_clear},
    // Memory
    {187, "malloc", 1, 1, bi_malloc},
    {188, "realloc", 2, 1, bi_realloc},
    {189, "free", 1, 1, bi_free},
    {190, "memcpy", 3, 1, bi_memcpy},
    {191, "memmove", 3, 1, bi_memmove},
    {192, "memset", 3, 1, bi_memset},
    {193, "memcmp", 3, 1, bi_memcmp},
    {194, "memswap", 3, 1, bi_memswap},
    // Math, noise, curves, keyframes
    {195, "srand", 1, 0, bi_srand},
    {196, "rand", 0, 0, bi_rand},
    {197, "abs", 1, 0, bi_abs},
    {198, "sgn", 1, 0, bi_sgn},
    {199, "tsin", 1, 0, bi_tsin},
    {200, "tcos", 1, 0, bi_tcos},
    {201, "tatan", 2, 0, bi_tatan},
    {202, "random", 0, 0, bi_random},
    {203, "fabs", 1, 0, bi_fabs},
    {204, "sqrt", 1, 0, bi_sqrt},
    {205, "pow", 2, 0, bi_pow},
    {206, "log", 1, 0, bi_log},
    {207, "exp", 1, 0, bi_exp},
    {208, "floor", 1, 0, bi_floor},
    {209, "ceil", 1, 0, bi_ceil},
    {210, "sin", 1, 0, bi_sin},
    {211, "cos", 1, 0, bi_cos},
    {212, "tan", 1, 0, bi_tan},
    {213, "asin", 1, 0, bi_asin},
    {214, "acos", 1, 0, bi_acos},
    {215, "atan", 2, 0, bi_atan},
    {216, "ftoa", 2, 0, bi_ftoa},
    {217, "perlin_init", 2, 0, bi_perlin_init},
    {218, "perlin_noise", 3, 0, bi_perlin_noise},
    {219, "bezier", 4, 0, bi_bezier},
    {220, "neville", 4, 0, bi_neville},
    {221, "linear", 3, 0, bi_linear},
    {222, "kf_setkey", 3, 0, bi_kf_setkey},
    {223, "kf_calc", 2, 0, bi_kf_calc},
    {224, "kf_getindex", 3, 0, bi_kf_getindex},
    {225, "kf_getkey", 4, 0, bi_kf_getkey},
    // Directory search
    {226, "find_first", 2, 1, bi_find_first},
    {227, "find_next", 2, 1, bi_find_next},
    {228, "find_close", 1, 1, bi_find_close},
    // Rectangles, strings, paths
    {229, "rc_empty", 1, 0, bi_rc_empty},
    {230, "rc_set", 5, 0, bi_rc_set},
    {231, "rc_setwh", 5, 0, bi_rc_setwh},
    {232, "rc_copy", 2, 0, bi_rc_copy},
    {233, "rc_move", 3, 0, bi_rc_move},
    {234, "rc_intersect", 3, 0, bi_rc_intersect},
    {235, "rc_union", 3, 0, bi_rc_union},
    {236, "rc_inflate", 3, 0, bi_rc_inflate},
    {237, "rc_in", 3, 0, bi_rc_in},
    {238, "rc_check", 1, 0, bi_rc_check},
    {239, "strlen", 1, 0, bi_strlen},
    {240, "strclen", 1, 0, bi_strclen},
    {241, "strcpy", 2, 0, bi_strcpy},
    {242, "strncpy", 3, 0, bi_strncpy},
    {243, "strcat", 2, 0, bi_strcat},
    {244, "strcmp", 2, 0, bi_strcmp},
    {245, "strcmpi", 2, 0, bi_strcmpi},
    {246, "strlwr", 1, 0, bi_strlwr},
    {247, "strupr", 1, 0, bi_strupr},
    {248, "strchr", 2, 0, bi_strchr},
    {249, "strtok", 2, 0, bi_strtok},
    {250, "strcspn", 2, 0, bi_strcspn},
    {251, "strspn", 2, 0, bi_strspn},
    {252, "strstr", 2, 0, bi_strstr},
    {253, "strpbrk", 2, 0, bi_strpbrk},
    {254, "strdup", 1, 0, bi_strdup},
    {255, "strndup", 2, 0, bi_strndup},
    {256, "strtol", 3, 0, bi_strtol},
    {257, "strtoul", 3, 0, bi_strtoul},
    {258, "strtof", 2, 0, bi_strtof},
    {259, "sprintf", -1, 0, bi_sprintf},
    {260, "splitpath", 5, 0, bi_splitpath},
    {261, "makepath", 5, 0, bi_makepath},
    {262, "hash32", 1, 0, bi_hash32},
    // Directories, files, system
    {263, "dir_getpath", 2, 1, bi_dir_getpath},
    {264, "dir_getcur", 1, 1, bi_dir_getcur},
    {265, "dir_setcur", 1, 1, bi_dir_setcur},
    {266, "dir_create", 1, 1, bi_dir_create},
    {267, "dir_delete", 1, 1, bi_dir_delete},
    {268, "file_copy", 3, 1, bi_file_copy},
    {269, "file_move", 2, 1, bi_file_move},
    {270, "file_delete", 1, 1, bi_file_delete},
    {271, "file_size", 1, 1, bi_file_size},
    {272, "file_check", 1, 1, bi_file_check},
    {273, "file_getattr", 1, 1, bi_file_getattr},
    {274, "file_setattr", 2, 1, bi_file_setattr},
    {275, "file_gettime", 4, 1, bi_file_gettime},
    {276, "file_settime", 4, 1, bi_file_settime},
    {277, "wallpaper", 2, 1, bi_wallpaper},
    {278, "shell", 3, 1, bi_shell},
    {279, "exec", 1, 1, bi_exec},
    {282, "mbox", 3, 1, bi_mbox},
    {283, "caption", 1, 1, bi_caption},
    // Clipboard
    {312, "clip_write", 1, 1, bi_clip_write},
    {313, "clip_read", 2, 1, bi_clip_read},
    // Network
    {314, "net_open", 2, 1, nullptr},
    {315, "net_close", 0, 1, nullptr},
    {316, "net_send", 3, 1, nullptr},
    {317, "net_recv", 3, 1, nullptr},
    {318, "net_state", 0, 1, nullptr},
    // Checksums
    {319, "crc16", 2, 1, bi_crc16},
    {320, "crc32", 2, 1, bi_crc32},
    // DLL calls
    {321, "dll_load", 1, 1, bi_dll_load},
    {322, "dll_unload", 1, 1, bi_dll_unload},
    {323, "dll_proc", 2, 1, bi_dll_proc},
    {324, "dll_call", -1, 1, bi_dll_call},
};

}  // namespace

void reset_library_state() {
  reset_regular_expressions();
  reset_math_state();
  reset_strtok();
  reset_searches();
  reset_native_libraries();
  reset_pending_caption();
}

vm::BuiltinSpan builtins() { return kBuiltins; }

}  // namespace talven::library

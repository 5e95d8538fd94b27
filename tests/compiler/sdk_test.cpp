// The SDK header: every built-in in table order, and the records it declares.
#include <fstream>
#include <sstream>

#include "support.h"

namespace talven::compiler::testing {
namespace {

const char* const kBuiltins[327] = {
    "jump", "call", "exit", "setjmp", "longjmp", "thd_begin", "thd_end", "thd_suspend", "thd_resume",
    "sleep", "ini_seti", "ini_sets", "ini_geti", "ini_gets", "pal_map", "pal_load", "pal_set", "pal_get",
    "pal_sets", "pal_gets", "pal_change", "getpixel", "rgbtohsv", "hsvtorgb", "gclip", "ginit", "galloc",
    "gfree", "gload", "gsave", "gcopy", "gblit", "gblita", "gclear", "gfill", "gline", "gpoly", "gattach",
    "gdetach", "ggetpal", "gsetpal", "ginfo", "dload", "dcopy", "p3d_tex", "p3d_init", "p3d_uninit",
    "p3d_load", "p3d_free", "p3d_normal", "p3d_clear", "p3d_view", "p3d_env", "p3d_light", "p3d_material",
    "p3d_setobj", "p3d_render", "sp_flag", "sp_init", "sp_setbg", "sp_getbg", "sp_redraw", "sp_set",
    "sp_reset", "sp_link", "sp_unlink", "sp_draw", "sp_bgorg", "sp_org", "sp_sort", "sp_rect", "hit_init",
    "hit_set", "hit_reset", "hit_check", "hit_rect", "hit_point", "setorg", "vpage", "apage", "update",
    "font_list", "font_use", "font_set", "font_get", "font_abc", "font_kern", "gtext", "gtextf", "drt_init",
    "drt_set", "drt_copy", "midi_load", "midi_free", "midi_play", "midi_stop", "midi_pause", "midi_replay",
    "midi_setvol", "midi_getvol", "midi_isplay", "midi_getpos", "midi_repeat", "snd_load", "snd_loads",
    "snd_free", "snd_play", "snd_stop", "snd_pause", "snd_replay", "snd_setvol", "snd_getvol", "snd_setpan",
    "snd_getpan", "snd_setfreq", "snd_getfreq", "snd_isplay", "snd_setloop", "snd_setpos", "snd_getpos",
    "snd_getlen", "snd_gettext", "snd_setmargin", "snd_setchorus", "snd_setcompressor", "snd_setdistortion",
    "snd_setecho", "snd_setflanger", "snd_setgargle", "snd_setparameq", "snd_setreverb", "cd_play",
    "cd_stop", "cd_pause", "cd_replay", "cd_setvol", "cd_getvol", "cd_isplay", "cd_getpos", "cd_getlen",
    "cd_repeat", "cd_eject", "media_open", "media_close", "media_play", "media_stop", "media_pause",
    "media_replay", "media_isplay", "media_repeat", "media_size", "media_setvol", "getkey", "getjoy",
    "getmouse", "getpoint", "cur_set", "cur_clip", "cur_setpos", "getcount", "setcount", "gettime", "fps",
    "reg_new", "reg_free", "reg_search", "reg_match", "match_new", "match_free", "match_clear", "pack_save",
    "pack_open", "pack_close", "pack_read", "pack_seek", "pack_size", "fopen", "fclose", "fread", "fwrite",
    "fseek", "ftell", "fgets", "fputs", "sysfile", "sysio", "mload", "malloc", "realloc", "free", "memcpy",
    "memmove", "memset", "memcmp", "memswap", "srand", "rand", "abs", "sgn", "tsin", "tcos", "tatan",
    "random", "fabs", "sqrt", "pow", "log", "exp", "floor", "ceil", "sin", "cos", "tan", "asin", "acos",
    "atan", "ftoa", "perlin_init", "perlin_noise", "bezier", "neville", "linear", "kf_setkey", "kf_calc",
    "kf_getindex", "kf_getkey", "find_first", "find_next", "find_close", "rc_empty", "rc_set", "rc_setwh",
    "rc_copy", "rc_move", "rc_intersect", "rc_union", "rc_inflate", "rc_in", "rc_check", "strlen", "strclen",
    "strcpy", "strncpy", "strcat", "strcmp", "strcmpi", "strlwr", "strupr", "strchr", "strtok", "strcspn",
    "strspn", "strstr", "strpbrk", "strdup", "strndup", "strtol", "strtoul", "strtof", "sprintf",
    "splitpath", "makepath", "hash32", "dir_getpath", "dir_getcur", "dir_setcur", "dir_create", "dir_delete",
    "file_copy", "file_move", "file_delete", "file_size", "file_check", "file_getattr", "file_setattr",
    "file_gettime", "file_settime", "wallpaper", "shell", "exec", "getsystem", "setsystem", "mbox",
    "caption", "freemap", "smooth", "rotate", "tiled", "scroll", "noise", "slice", "gradation", "mosaic",
    "monotone", "blur", "fire", "ef_init", "ef_free", "ef_copy", "ef_info", "ef_rotate", "ef_tunnel",
    "ef_land", "ef_ball", "ef_whirl", "ef_raster", "ef_blob", "ef_water", "ef_clear", "ef_lens", "key_init",
    "key_get", "clip_write", "clip_read", "net_open", "net_close", "net_send", "net_recv", "net_state",
    "crc16", "crc32", "dll_load", "dll_unload", "dll_proc", "dll_call", "log_clear", "log_out",
};

std::string read_header() {
  std::ifstream in(std::string(TALVEN_SOURCE_DIR) + "/sdk/include/talven.h", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST_F(CompilerTest, SdkHeaderDeclaresEveryBuiltInInTableOrder) {
  std::string header = read_header();
  ASSERT_FALSE(header.empty());
  Compiled c = build(std::map<std::string, std::string>{
      {"main.c",
       "#include \"talven.h\"\n"
       "int main()\n{\n  RECT r; BLITMODE m; SPRITE *s; HITREGION *h; FONT f; KEYFRAME k[4]; POINTER p;\n"
       "  rc_set(&r, 0, 0, 10, 10);\n  m.mode = BLIT_SRCKEY;\n"
       "  s = sp_set(0, SP_DRAWN, 1, 2, 3, &r, &m);\n  s->x = sqrt(2.0) * 3;\n"
       "  h = hit_set(0, 1, s, &r, 7);\n  kf_setkey(&k[1], 0.5, 2.0);\n  getpoint(&p);\n"
       "  sprintf(f.face, \"%d\", p.x);\n"
       "  return sizeof(SPRITE) * 1000000 + sizeof(HITREGION) * 10000 + sizeof(FONT) * 100 + sizeof(BLITMODE);\n}\n"},
      {"talven.h", header}});
  ASSERT_TRUE(c.result.ok) << c.errors();
  for (int i = 0; i < 327; ++i) {
    EXPECT_EQ(c.function(kBuiltins[i]), (std::vector<std::string>{"\ttrap\t" + std::to_string(i), "\tret"}))
        << kBuiltins[i];
  }
  // record sizes: sprite 144, hit region 44, font 48, blit mode 12
  EXPECT_NE(c.listing.find("\tmovl\tr0, $144444812\n"), std::string::npos);
}

}  // namespace
}  // namespace talven::compiler::testing

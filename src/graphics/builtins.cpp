// The built-ins of this module, by table index. Pictures: palettes and pixels, planes and drawing, sprites, hit regions, pages, text and the dirty-rectangle list.
// Entries whose handler is nullptr are not built yet; the gate tells the user so when a script
// calls one.
#include "graphics/graphics.h"
#include "graphics/sprites.h"

#include "graphics/image_files.h"
#include "graphics/planes.h"
#include "graphics/presentation.h"
#include "graphics/text.h"

namespace talven::graphics {

namespace {

constexpr vm::BuiltinEntry kBuiltins[] = {
    // Palettes and pixels
    {14, "pal_map", 1, 1, bi_pal_map},
    {15, "pal_load", 4, 1, bi_pal_load},
    {16, "pal_set", 2, 1, bi_pal_set},
    {17, "pal_get", 1, 1, bi_pal_get},
    {18, "pal_sets", 3, 1, bi_pal_sets},
    {19, "pal_gets", 3, 1, bi_pal_gets},
    {20, "pal_change", 0, 1, bi_pal_change},
    {21, "getpixel", 3, 1, bi_getpixel},
    {22, "rgbtohsv", 1, 1, bi_rgbtohsv},
    {23, "hsvtorgb", 1, 1, bi_hsvtorgb},
    // Planes and drawing
    {24, "gclip", 2, 1, bi_gclip},
    {25, "ginit", 0, 1, bi_ginit},
    {26, "galloc", 4, 1, bi_galloc},
    {27, "gfree", 1, 1, bi_gfree},
    {28, "gload", 2, 1, bi_gload},
    {29, "gsave", 3, 1, bi_gsave},
    {30, "gcopy", 6, 1, bi_gcopy},
    {31, "gblit", 6, 1, bi_gblit},
    {32, "gblita", 6, 1, bi_gblita},
    {33, "gclear", 3, 1, bi_gclear},
    {34, "gfill", 6, 1, bi_gfill},
    {35, "gline", 6, 1, bi_gline},
    {36, "gpoly", 4, 1, bi_gpoly},
    {37, "gattach", 2, 1, bi_gattach},
    {38, "gdetach", 1, 1, bi_gdetach},
    {39, "ggetpal", 4, 1, bi_ggetpal},
    {40, "gsetpal", 4, 1, bi_gsetpal},
    {41, "ginfo", 2, 1, bi_ginfo},
    {42, "dload", 5, 1, bi_dload},
    {43, "dcopy", 5, 1, bi_dcopy},
    // Sprites
    {57, "sp_flag", 1, 0, bi_sp_flag},
    {58, "sp_init", 1, 1, bi_sp_init},
    {59, "sp_setbg", 1, 1, bi_sp_setbg},
    {60, "sp_getbg", 0, 0, bi_sp_getbg},
    {61, "sp_redraw", 1, 1, bi_sp_redraw},
    {62, "sp_set", 7, 0, bi_sp_set},
    {63, "sp_reset", 1, 0, bi_sp_reset},
    {64, "sp_link", 2, 0, bi_sp_link},
    {65, "sp_unlink", 1, 0, bi_sp_unlink},
    {66, "sp_draw", 2, 1, bi_sp_draw},
    {67, "sp_bgorg", 2, 0, bi_sp_bgorg},
    {68, "sp_org", 3, 0, bi_sp_org},
    {69, "sp_sort", 2, 1, bi_sp_sort},
    {70, "sp_rect", 2, 0, bi_sp_rect},
    // Hit regions
    {71, "hit_init", 1, 1, bi_hit_init},
    {72, "hit_set", 5, 1, bi_hit_set},
    {73, "hit_reset", 1, 1, bi_hit_reset},
    {74, "hit_check", 1, 1, bi_hit_check},
    {75, "hit_rect", 2, 1, bi_hit_rect},
    {76, "hit_point", 3, 1, bi_hit_point},
    // Pages and screen
    {77, "setorg", 2, 1, bi_setorg},
    {78, "vpage", 1, 1, bi_vpage},
    {79, "apage", 1, 1, bi_apage},
    {80, "update", 1, 1, bi_update},
    // Text and fonts
    {81, "font_list", 2, 1, bi_font_list},
    {82, "font_use", 1, 1, bi_font_use},
    {83, "font_set", 2, 1, bi_font_set},
    {84, "font_get", 2, 1, bi_font_get},
    {85, "font_abc", 3, 1, bi_font_abc},
    {86, "font_kern", 3, 1, bi_font_kern},
    {87, "gtext", 5, 1, bi_gtext},
    {88, "gtextf", -1, 1, bi_gtextf},
    // Other drawing functions
    {89, "drt_init", 0, 1, bi_drt_init},
    {90, "drt_set", 1, 1, bi_drt_set},
    {91, "drt_copy", 5, 1, bi_drt_copy},
};

}  // namespace

vm::BuiltinSpan builtins() { return kBuiltins; }

}  // namespace talven::graphics

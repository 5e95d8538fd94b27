// The built-ins of this module, by table index: Software 3D, image filters and effect engines. None is built yet; the gate tells
// the user so when a script calls one.
#include "effects/effects.h"

namespace talven::effects {

namespace {

constexpr vm::BuiltinEntry kBuiltins[] = {
    // Software 3D
    {44, "p3d_tex", 1, 1, nullptr},
    {45, "p3d_init", 4, 1, nullptr},
    {46, "p3d_uninit", 0, 1, nullptr},
    {47, "p3d_load", 1, 1, nullptr},
    {48, "p3d_free", 1, 1, nullptr},
    {49, "p3d_normal", 1, 1, nullptr},
    {50, "p3d_clear", 0, 1, nullptr},
    {51, "p3d_view", 2, 1, nullptr},
    {52, "p3d_env", 3, 1, nullptr},
    {53, "p3d_light", 4, 1, nullptr},
    {54, "p3d_material", 3, 1, nullptr},
    {55, "p3d_setobj", 3, 1, nullptr},
    {56, "p3d_render", 0, 1, nullptr},
    // Image filters
    {284, "freemap", 5, 1, nullptr},
    {285, "smooth", 5, 1, nullptr},
    {286, "rotate", 6, 1, nullptr},
    {287, "tiled", 6, 1, nullptr},
    {288, "scroll", 4, 1, nullptr},
    {289, "noise", 3, 1, nullptr},
    {290, "slice", 3, 1, nullptr},
    {291, "gradation", 5, 1, nullptr},
    {292, "mosaic", 7, 1, nullptr},
    {293, "monotone", 4, 1, nullptr},
    {294, "blur", 6, 1, nullptr},
    {295, "fire", 2, 1, nullptr},
    // Effect engines
    {296, "ef_init", 5, 1, nullptr},
    {297, "ef_free", 1, 1, nullptr},
    {298, "ef_copy", 1, 1, nullptr},
    {299, "ef_info", 2, 1, nullptr},
    {300, "ef_rotate", 5, 1, nullptr},
    {301, "ef_tunnel", 4, 1, nullptr},
    {302, "ef_land", 5, 1, nullptr},
    {303, "ef_ball", 5, 1, nullptr},
    {304, "ef_whirl", 2, 1, nullptr},
    {305, "ef_raster", 4, 1, nullptr},
    {306, "ef_blob", 5, 1, nullptr},
    {307, "ef_water", 2, 1, nullptr},
    {308, "ef_clear", 1, 1, nullptr},
    {309, "ef_lens", 5, 1, nullptr},
};

}  // namespace

vm::BuiltinSpan builtins() { return kBuiltins; }

}  // namespace talven::effects

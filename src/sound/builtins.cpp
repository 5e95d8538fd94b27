// The built-ins of this module, by table index: MIDI music, sound slots, CD audio and movies. None is built yet; the gate tells
// the user so when a script calls one.
#include "sound/sound.h"

namespace talven::sound {

namespace {

constexpr vm::BuiltinEntry kBuiltins[] = {
    // MIDI
    {92, "midi_load", 1, 1, nullptr},
    {93, "midi_free", 0, 1, nullptr},
    {94, "midi_play", 1, 1, nullptr},
    {95, "midi_stop", 1, 1, nullptr},
    {96, "midi_pause", 0, 1, nullptr},
    {97, "midi_replay", 0, 1, nullptr},
    {98, "midi_setvol", 1, 1, nullptr},
    {99, "midi_getvol", 0, 1, nullptr},
    {100, "midi_isplay", 0, 1, nullptr},
    {101, "midi_getpos", 0, 1, nullptr},
    {102, "midi_repeat", 1, 1, nullptr},
    // Sound
    {103, "snd_load", 2, 1, nullptr},
    {104, "snd_loads", 2, 1, nullptr},
    {105, "snd_free", 1, 1, nullptr},
    {106, "snd_play", 2, 1, nullptr},
    {107, "snd_stop", 1, 1, nullptr},
    {108, "snd_pause", 1, 1, nullptr},
    {109, "snd_replay", 1, 1, nullptr},
    {110, "snd_setvol", 2, 1, nullptr},
    {111, "snd_getvol", 1, 1, nullptr},
    {112, "snd_setpan", 2, 1, nullptr},
    {113, "snd_getpan", 1, 1, nullptr},
    {114, "snd_setfreq", 2, 1, nullptr},
    {115, "snd_getfreq", 1, 1, nullptr},
    {116, "snd_isplay", 1, 1, nullptr},
    {117, "snd_setloop", 2, 1, nullptr},
    {118, "snd_setpos", 2, 1, nullptr},
    {119, "snd_getpos", 1, 1, nullptr},
    {120, "snd_getlen", 1, 1, nullptr},
    {121, "snd_gettext", 2, 1, nullptr},
    {122, "snd_setmargin", 1, 1, nullptr},
    {123, "snd_setchorus", 2, 1, nullptr},
    {124, "snd_setcompressor", 2, 1, nullptr},
    {125, "snd_setdistortion", 2, 1, nullptr},
    {126, "snd_setecho", 2, 1, nullptr},
    {127, "snd_setflanger", 2, 1, nullptr},
    {128, "snd_setgargle", 2, 1, nullptr},
    {129, "snd_setparameq", 2, 1, nullptr},
    {130, "snd_setreverb", 2, 1, nullptr},
    // CD audio
    {131, "cd_play", 2, 1, nullptr},
    {132, "cd_stop", 1, 1, nullptr},
    {133, "cd_pause", 0, 1, nullptr},
    {134, "cd_replay", 0, 1, nullptr},
    {135, "cd_setvol", 1, 1, nullptr},
    {136, "cd_getvol", 0, 1, nullptr},
    {137, "cd_isplay", 0, 1, nullptr},
    {138, "cd_getpos", 1, 1, nullptr},
    {139, "cd_getlen", 1, 1, nullptr},
    {140, "cd_repeat", 1, 1, nullptr},
    {141, "cd_eject", 0, 1, nullptr},
    // Movie
    {142, "media_open", 1, 1, nullptr},
    {143, "media_close", 0, 1, nullptr},
    {144, "media_play", 0, 1, nullptr},
    {145, "media_stop", 0, 1, nullptr},
    {146, "media_pause", 0, 1, nullptr},
    {147, "media_replay", 0, 1, nullptr},
    {148, "media_isplay", 0, 1, nullptr},
    {149, "media_repeat", 1, 1, nullptr},
    {150, "media_size", 1, 1, nullptr},
    {151, "media_setvol", 1, 1, nullptr},
};

}  // namespace

vm::BuiltinSpan builtins() { return kBuiltins; }

}  // namespace talven::sound

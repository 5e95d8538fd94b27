// The built-ins of this module, by table index: MIDI music, sound slots, CD audio and movies.
//
// Every sound built-in is carried out on the window thread: the handler reads its arguments on
// the calling thread (names and parameter records into staging, where a bad address fails the
// call), then sends the request with the window-message number games know. One built-in runs at
// a time (the built-in lock), so one staging area serves them all.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "sound/audio_engine.h"
#include "sound/cd_audio.h"
#include "sound/midi_music.h"
#include "sound/movie_player.h"
#include "sound/sound.h"
#include "sound/sound_slots.h"
#include "vm/requests.h"
#include "vm/script_memory.h"

namespace talven::sound {

namespace {

constexpr std::uint32_t kCdRequestBase = vm::kUserMessage + 100;  // 1124: cd_play
enum CdRequest : std::uint32_t {
  kCdPlay = kCdRequestBase, kCdStop, kCdPause, kCdReplay, kCdSetVolume, kCdGetVolume, kCdIsPlaying, kCdGetPosition,
  kCdGetLength, kCdRepeat, kCdEject,
};
constexpr std::uint32_t kMidiRequestBase = vm::kUserMessage + 120;  // 1144: midi_load
enum MidiRequest : std::uint32_t {
  kMidiLoad = kMidiRequestBase, kMidiFree, kMidiPlay, kMidiStop, kMidiPause, kMidiReplay, kMidiSetVolume,
  kMidiGetVolume, kMidiIsPlaying, kMidiGetPosition, kMidiRepeat,
};
static_assert(kCdEject == 1134 && kMidiRepeat == 1154);

constexpr std::uint32_t kMediaRequestBase = vm::kUserMessage + 180;  // 1204: media_open
enum MediaRequest : std::uint32_t {
  kMediaOpen = kMediaRequestBase, kMediaClose, kMediaPlay, kMediaStop, kMediaPause, kMediaReplay, kMediaIsPlaying,
  kMediaRepeat, kMediaSize, kMediaSetVolume,
};
static_assert(kMediaSetVolume == 1213);

constexpr std::uint32_t kSoundRequestBase = vm::kUserMessage + 140;  // 1164: snd_load
enum SoundRequest : std::uint32_t {
  kLoad = kSoundRequestBase, kLoadStream, kFree, kPlay, kStop, kPause, kReplay, kSetMasterVolume,
  kGetMasterVolume, kSetMasterPan, kGetMasterPan, kSetVolume, kGetVolume, kSetPan, kGetPan, kSetFrequency,
  kGetFrequency, kIsPlaying, kSetLoop, kSetPosition, kGetPosition, kGetLength, kGetText, kSetMargin,
  kSetEffect,  // 1188 ... 1195, one per effect in bit order
};
static_assert(kSetMargin == 1187 && kSetEffect == 1188);

std::string g_name;                        // snd_load, snd_loads
std::array<std::uint32_t, 7> g_words{};    // an effect's parameter record
std::string g_text;                        // snd_gettext's answer
platform::Rect g_rect;                     // media_size's rectangle

// The parameter words of each effect's record, in bit order.
constexpr int kEffectWords[8] = {7, 6, 5, 5, 7, 2, 3, 4};

std::int32_t slot_argument(vm::Address a) { return vm::argument_int(a, 0); }

std::uint32_t serve(std::uint32_t message, std::uint32_t w, std::uint32_t l) {
  const int slot = static_cast<std::int32_t>(w);
  const auto wi = static_cast<std::int32_t>(w), li = static_cast<std::int32_t>(l);
  switch (message) {
    case kCdPlay: return cd_play(wi, li);
    case kCdStop: return cd_stop(wi);
    case kCdPause: return cd_pause();
    case kCdReplay: return cd_replay();
    case kCdSetVolume: return cd_set_volume(wi);
    case kCdGetVolume: return cd_get_volume();
    case kCdIsPlaying: return cd_is_playing();
    case kCdGetPosition: return cd_get_position(wi);
    case kCdGetLength: return cd_get_length(wi);
    case kCdRepeat: return cd_set_repeat(wi);
    case kCdEject: return cd_eject();
    case kMidiLoad: return midi_load(g_name);
    case kMidiFree: return midi_free();
    case kMidiPlay: return midi_play();
    case kMidiStop: return midi_stop();
    case kMidiPause: return midi_pause();
    case kMidiReplay: return midi_replay();
    case kMidiSetVolume: return midi_set_volume(li);
    case kMidiGetVolume: return midi_get_volume();
    case kMidiIsPlaying: return midi_is_playing();
    case kMidiGetPosition: return midi_get_position();
    case kMidiRepeat: return midi_set_repeat(wi);
    case kMediaOpen: return media_open(g_name);
    case kMediaClose: return media_close();
    case kMediaPlay: return media_play();
    case kMediaStop: return media_stop();
    case kMediaPause: return media_pause();
    case kMediaReplay: return media_replay();
    case kMediaIsPlaying: return media_is_playing();
    case kMediaRepeat: return media_set_repeat(wi);
    case kMediaSize: return media_set_size(w != 0 ? &g_rect : nullptr);
    case kMediaSetVolume: return media_set_volume(wi);
    case kLoad: return slot_load(slot, g_name, false);
    case kLoadStream: return slot_load(slot, g_name, true);
    case kFree: return slot_free(slot);
    case kPlay: return slot_play(slot, static_cast<std::int32_t>(l));
    case kStop: return slot_stop(slot);
    case kPause: return slot_pause(slot);
    case kReplay: return slot_replay(slot);
    case kSetMasterVolume: return static_cast<std::uint32_t>(slot_set_volume(-1, static_cast<std::int32_t>(l)));
    case kGetMasterVolume: return static_cast<std::uint32_t>(slot_get_volume(-1));
    case kSetMasterPan: return static_cast<std::uint32_t>(slot_set_pan(-1, static_cast<std::int32_t>(l)));
    case kGetMasterPan: return static_cast<std::uint32_t>(slot_get_pan(-1));
    case kSetVolume: return static_cast<std::uint32_t>(slot_set_volume(slot, static_cast<std::int32_t>(l)));
    case kGetVolume: return static_cast<std::uint32_t>(slot_get_volume(slot));
    case kSetPan: return static_cast<std::uint32_t>(slot_set_pan(slot, static_cast<std::int32_t>(l)));
    case kGetPan: return static_cast<std::uint32_t>(slot_get_pan(slot));
    case kSetFrequency: return static_cast<std::uint32_t>(slot_set_frequency(slot, static_cast<std::int32_t>(l)));
    case kGetFrequency: return slot_get_frequency(slot);
    case kIsPlaying: return slot_is_playing(slot);
    case kSetLoop: return slot_set_loop(slot, l);
    case kSetPosition: return slot_set_position(slot, l);
    case kGetPosition: return slot_get_position(slot);
    case kGetLength: return slot_get_length(slot);
    case kGetText: {
      std::optional<std::string> comment = slot_comment(slot);
      g_text = comment ? comment->substr(0, 255) : std::string();
      return comment ? 1 : 0;
    }
    case kSetMargin: set_margin(w); return 1;
    default:
      if (message >= kSetEffect && message < kSetEffect + 8)
        return slot_set_effect(slot, static_cast<int>(message - kSetEffect), l != 0 ? &g_words : nullptr) ? 1 : 0;
      return 0;
  }
}

template <std::uint32_t Message>
std::uint32_t serve_request(std::uint32_t w, std::uint32_t l) {
  return serve(Message, w, l);
}

// Every request from cd_play (1124) to the last effect of the sound slots (1195).
constexpr std::uint32_t kFirstRequest = kCdRequestBase, kRequestCount = kSetEffect + 8 - kCdRequestBase;
template <std::size_t... I>
constexpr std::array<vm::RequestHandler, sizeof...(I)> request_handlers(std::index_sequence<I...>) {
  return {serve_request<kFirstRequest + I>...};
}
constexpr auto kRequestHandlers = request_handlers(std::make_index_sequence<kRequestCount>());
template <std::size_t... I>
constexpr std::array<vm::RequestHandler, sizeof...(I)> media_handlers(std::index_sequence<I...>) {
  return {serve_request<kMediaRequestBase + I>...};
}
constexpr auto kMediaHandlers = media_handlers(std::make_index_sequence<10>());

std::uint32_t send(std::uint32_t message, std::int32_t w, std::int32_t l = 0) {
  return vm::send_request(message, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(l));
}

std::uint32_t load(vm::Address a, std::uint32_t message) {
  const auto name = vm::load_string(vm::argument_word(a, 1));
  if (!name) return 0;
  g_name.assign(name->data(), name->size());
  return send(message, slot_argument(a));
}

std::uint32_t bi_midi_load(vm::Address a) {
  const auto name = vm::load_string(vm::argument_word(a, 0));
  if (!name) return 0;
  g_name.assign(name->data(), name->size());
  return send(kMidiLoad, 0);
}
std::uint32_t bi_midi_free(vm::Address) { return send(kMidiFree, 0); }
std::uint32_t bi_midi_play(vm::Address a) { return send(kMidiPlay, 0, vm::argument_int(a, 0)); }
std::uint32_t bi_midi_stop(vm::Address a) { return send(kMidiStop, 0, vm::argument_int(a, 0)); }
std::uint32_t bi_midi_pause(vm::Address) { return send(kMidiPause, 0); }
std::uint32_t bi_midi_replay(vm::Address) { return send(kMidiReplay, 0); }
std::uint32_t bi_midi_setvol(vm::Address a) { return send(kMidiSetVolume, 0, vm::argument_int(a, 0)); }
std::uint32_t bi_midi_getvol(vm::Address) { return send(kMidiGetVolume, 0); }
std::uint32_t bi_midi_isplay(vm::Address) { return send(kMidiIsPlaying, 0); }
std::uint32_t bi_midi_getpos(vm::Address) { return send(kMidiGetPosition, 0); }
std::uint32_t bi_midi_repeat(vm::Address a) { return send(kMidiRepeat, vm::argument_int(a, 0)); }

std::uint32_t bi_cd_play(vm::Address a) { return send(kCdPlay, vm::argument_int(a, 0), vm::argument_int(a, 1)); }
std::uint32_t bi_cd_stop(vm::Address a) { return send(kCdStop, vm::argument_int(a, 0)); }
std::uint32_t bi_cd_pause(vm::Address) { return send(kCdPause, 0); }
std::uint32_t bi_cd_replay(vm::Address) { return send(kCdReplay, 0); }
std::uint32_t bi_cd_setvol(vm::Address a) { return send(kCdSetVolume, vm::argument_int(a, 0)); }
std::uint32_t bi_cd_getvol(vm::Address) { return send(kCdGetVolume, 0); }
std::uint32_t bi_cd_isplay(vm::Address) { return send(kCdIsPlaying, 0); }
std::uint32_t bi_cd_getpos(vm::Address a) { return send(kCdGetPosition, vm::argument_int(a, 0)); }
std::uint32_t bi_cd_getlen(vm::Address a) { return send(kCdGetLength, vm::argument_int(a, 0)); }
std::uint32_t bi_cd_repeat(vm::Address a) { return send(kCdRepeat, vm::argument_int(a, 0)); }
std::uint32_t bi_cd_eject(vm::Address) { return send(kCdEject, 0); }

std::uint32_t bi_media_open(vm::Address a) {
  const auto name = vm::load_string(vm::argument_word(a, 0));
  if (!name) return 0;
  g_name.assign(name->data(), name->size());
  return send(kMediaOpen, 0);
}
std::uint32_t bi_media_close(vm::Address) { return send(kMediaClose, 0); }
std::uint32_t bi_media_play(vm::Address) { return send(kMediaPlay, 0); }
std::uint32_t bi_media_stop(vm::Address) { return send(kMediaStop, 0); }
std::uint32_t bi_media_pause(vm::Address) { return send(kMediaPause, 0); }
std::uint32_t bi_media_replay(vm::Address) { return send(kMediaReplay, 0); }
std::uint32_t bi_media_isplay(vm::Address) { return send(kMediaIsPlaying, 0); }
std::uint32_t bi_media_repeat(vm::Address a) { return send(kMediaRepeat, vm::argument_int(a, 0)); }
// The rectangle (left, top, right, bottom in game-screen pixels) is read here; 0: the whole screen.
std::uint32_t bi_media_size(vm::Address a) {
  const vm::Address rect = vm::argument_word(a, 0);
  if (rect != 0) {
    std::uint32_t v[4];
    for (int i = 0; i < 4; ++i)
      if (!vm::load(rect + 4u * static_cast<std::uint32_t>(i), v[i])) return 0;
    const auto s = [&](int i) { return static_cast<std::int32_t>(v[i]); };
    g_rect = platform::Rect{s(0), s(1), s(2) - s(0), s(3) - s(1)};
  }
  return send(kMediaSize, rect != 0 ? 1 : 0);
}
std::uint32_t bi_media_setvol(vm::Address a) { return send(kMediaSetVolume, vm::argument_int(a, 0)); }

std::uint32_t bi_snd_load(vm::Address a) { return load(a, kLoad); }
std::uint32_t bi_snd_loads(vm::Address a) { return load(a, kLoadStream); }
std::uint32_t bi_snd_free(vm::Address a) { return send(kFree, slot_argument(a)); }
std::uint32_t bi_snd_play(vm::Address a) { return send(kPlay, slot_argument(a), vm::argument_int(a, 1)); }
std::uint32_t bi_snd_stop(vm::Address a) { return send(kStop, slot_argument(a)); }
std::uint32_t bi_snd_pause(vm::Address a) { return send(kPause, slot_argument(a)); }
std::uint32_t bi_snd_replay(vm::Address a) { return send(kReplay, slot_argument(a)); }
std::uint32_t bi_snd_setvol(vm::Address a) {
  const std::int32_t slot = slot_argument(a), volume = vm::argument_int(a, 1);
  return slot == -1 ? send(kSetMasterVolume, 0, volume) : send(kSetVolume, slot, volume);
}
std::uint32_t bi_snd_getvol(vm::Address a) {
  const std::int32_t slot = slot_argument(a);
  return slot == -1 ? send(kGetMasterVolume, 0) : send(kGetVolume, slot);
}
std::uint32_t bi_snd_setpan(vm::Address a) {
  const std::int32_t slot = slot_argument(a), pan = vm::argument_int(a, 1);
  return slot == -1 ? send(kSetMasterPan, 0, pan) : send(kSetPan, slot, pan);
}
std::uint32_t bi_snd_getpan(vm::Address a) {
  const std::int32_t slot = slot_argument(a);
  return slot == -1 ? send(kGetMasterPan, 0) : send(kGetPan, slot);
}
std::uint32_t bi_snd_setfreq(vm::Address a) { return send(kSetFrequency, slot_argument(a), vm::argument_int(a, 1)); }
std::uint32_t bi_snd_getfreq(vm::Address a) { return send(kGetFrequency, slot_argument(a)); }
std::uint32_t bi_snd_isplay(vm::Address a) { return send(kIsPlaying, slot_argument(a)); }
std::uint32_t bi_snd_setloop(vm::Address a) { return send(kSetLoop, slot_argument(a), vm::argument_int(a, 1)); }
std::uint32_t bi_snd_setpos(vm::Address a) { return send(kSetPosition, slot_argument(a), vm::argument_int(a, 1)); }
std::uint32_t bi_snd_getpos(vm::Address a) { return send(kGetPosition, slot_argument(a)); }
std::uint32_t bi_snd_getlen(vm::Address a) { return send(kGetLength, slot_argument(a)); }
std::uint32_t bi_snd_gettext(vm::Address a) {
  const vm::Address buffer = vm::argument_word(a, 1);
  // The answer has at most 255 bytes and its terminator; the buffer must hold what is written.
  const std::uint32_t found = send(kGetText, slot_argument(a));
  if (!vm::store_string(buffer, g_text, static_cast<std::uint32_t>(g_text.size() + 1))) return 0;
  return found;
}
std::uint32_t bi_snd_setmargin(vm::Address a) { return send(kSetMargin, vm::argument_int(a, 0)); }

template <int Effect>
std::uint32_t bi_set_effect(vm::Address a) {
  const vm::Address record = vm::argument_word(a, 1);
  if (record != 0) {
    g_words = {};
    for (int i = 0; i < kEffectWords[Effect]; ++i)
      if (!vm::load(record + 4u * static_cast<std::uint32_t>(i), g_words[static_cast<std::size_t>(i)])) return 0;
  }
  return send(kSetEffect + Effect, slot_argument(a), record != 0 ? 1 : 0);
}
constexpr auto bi_snd_setchorus = bi_set_effect<0>;
constexpr auto bi_snd_setcompressor = bi_set_effect<1>;
constexpr auto bi_snd_setdistortion = bi_set_effect<2>;
constexpr auto bi_snd_setecho = bi_set_effect<3>;
constexpr auto bi_snd_setflanger = bi_set_effect<4>;
constexpr auto bi_snd_setgargle = bi_set_effect<5>;
constexpr auto bi_snd_setparameq = bi_set_effect<6>;
constexpr auto bi_snd_setreverb = bi_set_effect<7>;

constexpr vm::BuiltinEntry kBuiltins[] = {
    // MIDI
    {92, "midi_load", 1, 1, bi_midi_load},
    {93, "midi_free", 0, 1, bi_midi_free},
    {94, "midi_play", 1, 1, bi_midi_play},
    {95, "midi_stop", 1, 1, bi_midi_stop},
    {96, "midi_pause", 0, 1, bi_midi_pause},
    {97, "midi_replay", 0, 1, bi_midi_replay},
    {98, "midi_setvol", 1, 1, bi_midi_setvol},
    {99, "midi_getvol", 0, 1, bi_midi_getvol},
    {100, "midi_isplay", 0, 1, bi_midi_isplay},
    {101, "midi_getpos", 0, 1, bi_midi_getpos},
    {102, "midi_repeat", 1, 1, bi_midi_repeat},
    // Sound
    {103, "snd_load", 2, 1, bi_snd_load},
    {104, "snd_loads", 2, 1, bi_snd_loads},
    {105, "snd_free", 1, 1, bi_snd_free},
    {106, "snd_play", 2, 1, bi_snd_play},
    {107, "snd_stop", 1, 1, bi_snd_stop},
    {108, "snd_pause", 1, 1, bi_snd_pause},
    {109, "snd_replay", 1, 1, bi_snd_replay},
    {110, "snd_setvol", 2, 1, bi_snd_setvol},
    {111, "snd_getvol", 1, 1, bi_snd_getvol},
    {112, "snd_setpan", 2, 1, bi_snd_setpan},
    {113, "snd_getpan", 1, 1, bi_snd_getpan},
    {114, "snd_setfreq", 2, 1, bi_snd_setfreq},
    {115, "snd_getfreq", 1, 1, bi_snd_getfreq},
    {116, "snd_isplay", 1, 1, bi_snd_isplay},
    {117, "snd_setloop", 2, 1, bi_snd_setloop},
    {118, "snd_setpos", 2, 1, bi_snd_setpos},
    {119, "snd_getpos", 1, 1, bi_snd_getpos},
    {120, "snd_getlen", 1, 1, bi_snd_getlen},
    {121, "snd_gettext", 2, 1, bi_snd_gettext},
    {122, "snd_setmargin", 1, 1, bi_snd_setmargin},
    {123, "snd_setchorus", 2, 1, bi_snd_setchorus},
    {124, "snd_setcompressor", 2, 1, bi_snd_setcompressor},
    {125, "snd_setdistortion", 2, 1, bi_snd_setdistortion},
    {126, "snd_setecho", 2, 1, bi_snd_setecho},
    {127, "snd_setflanger", 2, 1, bi_snd_setflanger},
    {128, "snd_setgargle", 2, 1, bi_snd_setgargle},
    {129, "snd_setparameq", 2, 1, bi_snd_setparameq},
    {130, "snd_setreverb", 2, 1, bi_snd_setreverb},
    // CD audio
    {131, "cd_play", 2, 1, bi_cd_play},
    {132, "cd_stop", 1, 1, bi_cd_stop},
    {133, "cd_pause", 0, 1, bi_cd_pause},
    {134, "cd_replay", 0, 1, bi_cd_replay},
    {135, "cd_setvol", 1, 1, bi_cd_setvol},
    {136, "cd_getvol", 0, 1, bi_cd_getvol},
    {137, "cd_isplay", 0, 1, bi_cd_isplay},
    {138, "cd_getpos", 1, 1, bi_cd_getpos},
    {139, "cd_getlen", 1, 1, bi_cd_getlen},
    {140, "cd_repeat", 1, 1, bi_cd_repeat},
    {141, "cd_eject", 0, 1, bi_cd_eject},
    // Movie
    {142, "media_open", 1, 1, bi_media_open},
    {143, "media_close", 0, 1, bi_media_close},
    {144, "media_play", 0, 1, bi_media_play},
    {145, "media_stop", 0, 1, bi_media_stop},
    {146, "media_pause", 0, 1, bi_media_pause},
    {147, "media_replay", 0, 1, bi_media_replay},
    {148, "media_isplay", 0, 1, bi_media_isplay},
    {149, "media_repeat", 1, 1, bi_media_repeat},
    {150, "media_size", 1, 1, bi_media_size},
    {151, "media_setvol", 1, 1, bi_media_setvol},
};

}  // namespace

vm::BuiltinSpan builtins() { return kBuiltins; }

void sound_start(const SoundSettings& settings) {
  for (std::uint32_t i = 0; i < kRequestHandlers.size(); ++i)
    vm::set_request_handler(kFirstRequest + i, kRequestHandlers[i]);
  for (std::uint32_t i = 0; i < kMediaHandlers.size(); ++i)
    vm::set_request_handler(kMediaRequestBase + i, kMediaHandlers[i]);
  start_movies(settings.screen_width, settings.screen_height, settings.multi_threading, settings.picture_due);
  if (settings.direct_sound) start_sound_system();
  if (settings.direct_music) start_midi(settings.soundfont);
  if (settings.cd) start_cd(settings.cd_folder);
  if (!settings.direct_sound && !settings.direct_music && !settings.cd && !capture_path().empty())
    std::fprintf(stderr, "talven: --audio-out %s: the game turns its sound off ([System] DirectSound=0), so nothing is written\n",
                 capture_path().c_str());
}

void sound_stop() {
  stop_movies();
  stop_cd();
  stop_midi();
  stop_sound_system();
  close_audio_engine();
}
void sound_pause() { pause_all_slots(); }
void sound_resume() { replay_all_slots(); }
void music_pause() {
  midi_pause();
  pause_movie();
  cd_pause();
}
void music_resume() {
  cd_replay();
  resume_movie();
  midi_replay();
}

void reset_sound_state() {
  sound_stop();
  set_capture_path({});
  g_name.clear();
  g_text.clear();
}

void capture_output(const std::string& host_path) { set_capture_path(host_path); }

}  // namespace talven::sound

#include "sound/midi_music.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "archive/pack_file.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/text_encoding.h"
#include "platform/user_folders.h"
#include "sound/audio_engine.h"
#include "sound/midi_file.h"
#include "sound/mixer.h"
#include "vm/report.h"

namespace talven::sound {
namespace {

// FluidSynth's own default gain (0.2) leaves General MIDI music quiet beside a game's sounds; at
// 0.4 the demo's four-part theme plays at about -26 dBFS at full volume, and a file of sixteen
// busy channels at full channel volume (bench_music_render) reaches full scale.
constexpr double kSynthGain = 0.4;
constexpr int kBlockFrames = 1024;
constexpr int kChannelsRemembered = 16;

void report_message(const char* utf8) { vm::report(1, "%s", platform::cp932(utf8)); }

// FluidSynth's messages: errors reach the user once each, in our words; the rest is noise to a
// player (missing drum presets, voice stealing).
void fluid_log(int level, const char* message, void*) {
  if (level <= FLUID_ERR) std::fprintf(stderr, "talven: fluidsynth: %s\n", message);
}

void quiet_fluidsynth() {
  fluid_set_log_function(FLUID_PANIC, fluid_log, nullptr);
  fluid_set_log_function(FLUID_ERR, fluid_log, nullptr);
  fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
  fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
  fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

// The synthesiser and what plays on it: a mixer channel. `lock` serialises the output thread's
// rendering with the window thread's control of the player and the volume tool, so FluidSynth
// never sees two threads at once.
class MidiSynth final : public MixerChannel {
 public:
  std::mutex lock;
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  fluid_player_t* player = nullptr;
  int rate = 48000;
  // Set by the SoundFont's loader once it is done; until then only that thread touches `synth`.
  std::atomic<bool> font_ready{false};

  // The volume tool: the channel volumes the file sent (channels 0-15) and the master volume
  // that scales every one of them on its way to the synthesiser.
  bool tool = false;
  int master = 100;
  std::array<std::uint8_t, kChannelsRemembered> channel_volumes{};

  // The performance's clock: frames rendered since the synthesiser joined the mixer.
  std::atomic<std::uint64_t> clock{0};
  // A playback that does not repeat ends at `end_at` on the clock; the output thread stops the
  // player there and sets `ended`.
  bool stop_at_end = false;
  std::uint64_t end_at = 0;
  std::atomic<bool> ended{false};

  std::vector<float> scratch = std::vector<float>(2 * kBlockFrames);

  ~MidiSynth() override {
    if (player) delete_fluid_player(player);
    if (synth) delete_fluid_synth(synth);
    if (settings) delete_fluid_settings(settings);
  }

  int scaled(int value) const { return value * master * 100 / 10000; }

  void mix_into(float* out, int frames) override {
    std::lock_guard guard(lock);
    const std::uint64_t now = clock.load(std::memory_order_relaxed);
    clock.store(now + static_cast<std::uint64_t>(frames), std::memory_order_relaxed);
    if (!font_ready.load(std::memory_order_acquire)) return;
    if (player && stop_at_end && !ended.load(std::memory_order_relaxed) && now + static_cast<std::uint64_t>(frames) > end_at) {
      // Render up to the end, then let the notes go.
      const int before = static_cast<int>(end_at > now ? end_at - now : 0);
      render(out, before);
      fluid_player_stop(player);
      ended.store(true, std::memory_order_release);
      render(out + 2 * before, frames - before);
      return;
    }
    if (player == nullptr && fluid_synth_get_active_voice_count(synth) == 0) return;
    render(out, frames);
  }

 private:
  void render(float* out, int frames) {
    while (frames > 0) {
      const int n = std::min(frames, kBlockFrames);
      float* s = scratch.data();
      fluid_synth_write_float(synth, n, s, 0, 2, s, 1, 2);
      for (int i = 0; i < 2 * n; ++i) out[i] += s[i];
      out += 2 * n;
      frames -= n;
    }
  }
};

// The per-event hook of the player: every channel-volume controller of the file is remembered and
// scaled by the master volume. Runs on the output thread, inside MidiSynth::lock.
int on_midi_event(void* data, fluid_midi_event_t* event) {
  auto* m = static_cast<MidiSynth*>(data);
  if (m->tool && fluid_midi_event_get_type(event) == 0xB0 && fluid_midi_event_get_control(event) == 7) {
    const int channel = fluid_midi_event_get_channel(event);
    const int value = fluid_midi_event_get_value(event);
    if (channel >= 0 && channel < kChannelsRemembered)
      m->channel_volumes[static_cast<std::size_t>(channel)] = static_cast<std::uint8_t>(value);
    fluid_midi_event_set_value(event, m->scaled(value));
  }
  return fluid_synth_handle_midi_event(m->synth, event);
}

constexpr int kPlayerTracks = 128;

// The file as FluidSynth's reader wants it: a header of exactly six bytes.
std::string player_copy(std::string_view smf) {
  const std::uint32_t header = (std::uint32_t(std::uint8_t(smf[4])) << 24) | (std::uint32_t(std::uint8_t(smf[5])) << 16) |
                               (std::uint32_t(std::uint8_t(smf[6])) << 8) | std::uint8_t(smf[7]);
  if (header == 6) return std::string(smf);
  std::string copy(smf.substr(0, 8));
  copy[4] = copy[5] = copy[6] = 0;
  copy[7] = 6;
  copy += smf.substr(8, 6);
  copy += smf.substr(8 + header);
  return copy;
}

// The synthesiser as music plays it: at the mixer's rate, driven by the frames rendered.
fluid_synth_t* make_synth(int rate, fluid_settings_t*& settings) {
  settings = new_fluid_settings();
  if (settings == nullptr) return nullptr;
  fluid_settings_setnum(settings, "synth.sample-rate", rate);
  fluid_settings_setnum(settings, "synth.gain", kSynthGain);
  // Every call into FluidSynth is serialised by MidiSynth::lock.
  fluid_settings_setint(settings, "synth.threadsafe-api", 0);
  // The player is driven by the frames rendered, so its time is the mixer's.
  fluid_settings_setstr(settings, "player.timing-source", "sample");
  // A play carries on with what earlier ones set on the channels, as a performance does.
  fluid_settings_setint(settings, "player.reset-synth", 0);
  return new_fluid_synth(settings);
}

// ---- State of the window thread ------------------------------------------------------------------

std::unique_ptr<MidiSynth> g_synth;
Mixer* g_mixer = nullptr;
std::thread g_font_loader;
std::string g_font_path;

std::string g_file;  // the loaded file's bytes (the Standard MIDI File part)
bool g_loaded = false;
int g_pause_count = 0;
int g_repeat = 0;
bool g_playing = false;  // since the last play or replay, until stop or pause
// On the performance clock, in frames: where the current playback started and what played before
// the last pause.
std::uint64_t g_start = 0, g_played_before = 0;
std::uint64_t g_length = 0;  // frames; 0 when the file has no length

// Waits for the SoundFont; false when music cannot play.
bool synth_ready() {
  if (!g_synth) return false;
  if (g_font_loader.joinable()) g_font_loader.join();
  return g_synth->font_ready.load();
}

std::uint64_t frames_of_microseconds(std::uint64_t us) {
  return static_cast<std::uint64_t>(static_cast<long double>(us) * g_synth->rate / 1000000.0L);
}

// Stops the player where it stands; the notes sounding are released.
void halt_player() {
  if (g_synth->player) fluid_player_stop(g_synth->player);
}

// A fresh player on the loaded file at its start, looping for ever or playing once.
bool start_player() {
  MidiSynth& m = *g_synth;
  if (m.player) delete_fluid_player(m.player);
  m.player = new_fluid_player(m.synth);
  if (m.player == nullptr) return false;
  fluid_player_set_playback_callback(m.player, on_midi_event, &m);
  if (fluid_player_add_mem(m.player, g_file.data(), g_file.size()) != FLUID_OK) {
    delete_fluid_player(m.player);
    m.player = nullptr;
    return false;
  }
  return true;
}

// Plays on from where the player stands; the repeat flag is read now.
bool resume_player() {
  MidiSynth& m = *g_synth;
  fluid_player_set_loop(m.player, g_repeat != 0 ? -1 : 1);
  m.ended = false;
  // A file without length ends at once rather than loop on nothing.
  m.stop_at_end = g_repeat == 0 || g_length == 0;
  m.end_at = m.clock + (g_length > g_played_before ? g_length - g_played_before : 0);
  if (fluid_player_play(m.player) != FLUID_OK) return false;
  g_start = m.clock;
  g_playing = true;
  return true;
}

bool is_playing() { return g_loaded && g_playing && !g_synth->ended.load(std::memory_order_acquire); }

}  // namespace

std::optional<std::string> playable_midi_file(std::string_view bytes, MidiFileInfo* info_out) {
  const auto info = scan_midi_file(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  if (!info) return std::nullopt;
  // What FluidSynth's reader does not take: SMPTE time and more than its 128 tracks.
  if ((info->division & 0x8000) != 0 || info->tracks > kPlayerTracks) return std::nullopt;
  if (info_out) *info_out = *info;
  return player_copy(bytes.substr(info->smf_offset, info->smf_size));
}

std::string find_soundfont(const std::string& setting, std::string* looked_at) {
  std::vector<std::string> places;
  if (!setting.empty()) places.push_back(platform::resolve_game_path(setting));
  if (auto data = platform::base_directory("XDG_DATA_HOME", ".local/share")) {
    places.push_back(*data + "/soundfonts/default.sf2");
    places.push_back(*data + "/sounds/sf2/default-GM.sf2");
  }
  for (const char* p : {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                        "/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf3/default-GM.sf3",
                        "/usr/share/soundfonts/default.sf2", "/usr/share/soundfonts/FluidR3_GM.sf2"})
    places.emplace_back(p);
  std::string tried;
  for (const std::string& p : places) {
    if (platform::path_exists(p) && !platform::is_directory(p)) return p;
    if (!tried.empty()) tried += ", ";
    tried += p;
    // A SoundFont the setting names but that is missing is not replaced by another one silently.
    if (!setting.empty() && &p == &places.front()) {
      if (looked_at) *looked_at = tried;
      return {};
    }
  }
  if (looked_at) *looked_at = tried;
  return {};
}

void start_midi(const std::string& soundfont_setting) {
  stop_midi();
  quiet_fluidsynth();

  g_mixer = open_audio_engine();
  auto m = std::make_unique<MidiSynth>();
  if (g_mixer != nullptr) {
    m->rate = g_mixer->output_rate();
    m->synth = make_synth(m->rate, m->settings);
  }
  if (g_mixer == nullptr || m->synth == nullptr) {
    g_mixer = nullptr;
    report_message("DirectMusicPerformance の初期化に失敗しました。");
    return;
  }
  std::string looked_at;
  g_font_path = find_soundfont(soundfont_setting, &looked_at);
  g_synth = std::move(m);
  if (g_font_path.empty()) {
    std::fprintf(stderr,
                 "talven: no SoundFont for MIDI music (looked at %s); music is off. Install timgm6mb-soundfont "
                 "or fluid-soundfont-gm, or name one with [Talven] SoundFont=\n",
                 looked_at.c_str());
    return;
  }
  // Loading a large SoundFont takes most of a second; the game starts meanwhile, and the first
  // midi_load waits for it.
  g_font_loader = std::thread([synth = g_synth.get(), path = g_font_path] {
    if (fluid_synth_sfload(synth->synth, path.c_str(), 1) == FLUID_FAILED) {
      std::fprintf(stderr, "talven: the SoundFont %s cannot be read; MIDI music is off\n", path.c_str());
      return;
    }
    synth->font_ready.store(true, std::memory_order_release);
  });
  g_mixer->attach(g_synth.get());
}

void stop_midi() {
  if (g_font_loader.joinable()) g_font_loader.join();
  if (g_synth) midi_free();
  if (g_mixer && g_synth) g_mixer->detach(g_synth.get());
  g_synth.reset();
  g_mixer = nullptr;
  g_font_path.clear();
  g_pause_count = 0;
  g_repeat = 0;
}

std::uint32_t midi_load(const std::string& name) {
  if (name.empty() || !g_synth) return 0;
  if (midi_free() == 0) return 0;
  if (!synth_ready()) return 0;
  std::string bytes;
  if (!archive::read_whole_exp_file(name.c_str(), archive::kMaxContentSize, bytes)) return 0;
  MidiFileInfo info;
  auto playable = playable_midi_file(bytes, &info);
  if (!playable) return 0;
  g_file = std::move(*playable);
  g_length = frames_of_microseconds(info.length_us);
  std::lock_guard guard(g_synth->lock);
  g_synth->tool = true;
  g_synth->master = 100;
  g_synth->channel_volumes.fill(127);
  g_loaded = true;
  return 1;
}

std::uint32_t midi_free() {
  if (!g_synth) return 1;
  {
    std::lock_guard guard(g_synth->lock);
    if (g_synth->player) {
      fluid_player_stop(g_synth->player);
      delete_fluid_player(g_synth->player);
      g_synth->player = nullptr;
    }
    if (g_loaded) fluid_synth_all_notes_off(g_synth->synth, -1);
    g_synth->tool = false;
    g_synth->master = 100;
  }
  g_loaded = false;
  g_playing = false;
  g_file.clear();
  g_file.shrink_to_fit();
  g_start = g_played_before = g_length = 0;
  return 1;
}

std::uint32_t midi_play() {
  g_pause_count = 0;
  if (!g_loaded) return 1;
  midi_stop();
  std::lock_guard guard(g_synth->lock);
  if (!start_player() || !resume_player()) return 0;
  return 1;
}

std::uint32_t midi_stop() {
  if (g_loaded) {
    std::lock_guard guard(g_synth->lock);
    halt_player();
    if (g_synth->player) fluid_player_seek(g_synth->player, 0);
  }
  g_playing = false;
  g_played_before = 0;
  return 1;
}

std::uint32_t midi_pause() {
  if (g_pause_count >= 1) ++g_pause_count;
  if (!is_playing()) return 1;
  g_pause_count = 1;
  std::lock_guard guard(g_synth->lock);
  halt_player();
  g_played_before += g_synth->clock - g_start;
  g_playing = false;
  return 1;
}

std::uint32_t midi_replay() {
  if (g_pause_count == 0) return 1;
  if (--g_pause_count > 0) return 1;
  if (g_loaded) {
    // A file loaded since the pause starts from its beginning.
    std::lock_guard guard(g_synth->lock);
    if (g_synth->player == nullptr && !start_player()) return 0;
    if (!resume_player()) return 0;
  }
  return 1;
}

std::uint32_t midi_set_volume(std::int32_t volume) {
  if (!g_loaded) return 1;
  std::lock_guard guard(g_synth->lock);
  MidiSynth& m = *g_synth;
  m.master = std::clamp(volume, 0, 100);
  for (int c = 0; c < kChannelsRemembered; ++c)
    fluid_synth_cc(m.synth, c, 7, m.scaled(m.channel_volumes[static_cast<std::size_t>(c)]));
  return 1;
}

std::uint32_t midi_get_volume() {
  if (!g_loaded) return 0;
  std::lock_guard guard(g_synth->lock);
  return static_cast<std::uint32_t>(g_synth->master);
}

std::uint32_t midi_is_playing() { return is_playing() ? 1 : 0; }

std::uint32_t midi_get_position() {
  if (!is_playing()) return 0;
  std::uint64_t p = g_synth->clock - g_start + g_played_before;
  if (g_length != 0) p %= g_length;
  return static_cast<std::uint32_t>(p * 1000 / static_cast<std::uint64_t>(g_synth->rate));
}

std::uint32_t midi_set_repeat(std::int32_t flag) {
  g_repeat = flag;
  return 1;
}

// ---- Offline rendering ---------------------------------------------------------------------------

struct OfflineMidi::Parts {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  fluid_player_t* player = nullptr;
  ~Parts() {
    if (player) delete_fluid_player(player);
    if (synth) delete_fluid_synth(synth);
    if (settings) delete_fluid_settings(settings);
  }
};

OfflineMidi::OfflineMidi(int rate, const std::string& soundfont) : parts_(std::make_unique<Parts>()) {
  quiet_fluidsynth();
  parts_->synth = make_synth(rate, parts_->settings);
  if (parts_->synth && !soundfont.empty()) ready_ = fluid_synth_sfload(parts_->synth, soundfont.c_str(), 1) != FLUID_FAILED;
  else ready_ = parts_->synth != nullptr;
}

OfflineMidi::~OfflineMidi() = default;

bool OfflineMidi::play(std::string_view playable) {
  if (!ready_) return false;
  if (parts_->player) delete_fluid_player(parts_->player);
  parts_->player = new_fluid_player(parts_->synth);
  if (parts_->player == nullptr) return false;
  file_.assign(playable);
  return fluid_player_add_mem(parts_->player, file_.data(), file_.size()) == FLUID_OK &&
         fluid_player_play(parts_->player) == FLUID_OK;
}

void OfflineMidi::render(float* stereo, int frames) {
  if (!ready_) return;
  fluid_synth_write_float(parts_->synth, frames, stereo, 0, 2, stereo, 1, 2);
}

int OfflineMidi::active_voices() const { return parts_->synth ? fluid_synth_get_active_voice_count(parts_->synth) : 0; }

}  // namespace talven::sound

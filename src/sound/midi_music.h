// MIDI music: one Standard MIDI File at a time, played by FluidSynth into the audio engine's
// mixer. Inside the module; the built-ins reach these on the window thread, one at a time.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sound/midi_file.h"

namespace talven::sound {

// Start-up: finds the SoundFont (the setting `soundfont_setting`, a host path or one relative to
// the game's folder; else the usual system places) and loads it on a worker thread, so start-up
// does not wait for a large font. Without a SoundFont music stays off: every load fails.
void start_midi(const std::string& soundfont_setting);
void stop_midi();

std::uint32_t midi_load(const std::string& name);
std::uint32_t midi_free();
std::uint32_t midi_play();
std::uint32_t midi_stop();
std::uint32_t midi_pause();
std::uint32_t midi_replay();
std::uint32_t midi_set_volume(std::int32_t volume);
std::uint32_t midi_get_volume();
std::uint32_t midi_is_playing();
std::uint32_t midi_get_position();
std::uint32_t midi_set_repeat(std::int32_t flag);

// The bytes of a MIDI file (bare or RMID) as the player is handed them, when it can play them;
// nothing otherwise. `info` receives what the file's scan found.
std::optional<std::string> playable_midi_file(std::string_view bytes, MidiFileInfo* info = nullptr);

// The SoundFont music would use: the setting when it names a readable file, else the first of the
// system's General MIDI SoundFonts that exists; empty when there is none. `looked_at` receives
// the places tried, for messages.
std::string find_soundfont(const std::string& soundfont_setting, std::string* looked_at = nullptr);

// A synthesiser and player of their own, as music sets them up, rendering as fast as asked: how the
// benchmark and the fuzz target reach the player the game's music uses. Any thread, one at a time.
class OfflineMidi {
 public:
  // Without `soundfont` nothing sounds, but every event is read and played.
  OfflineMidi(int rate, const std::string& soundfont);
  ~OfflineMidi();
  bool ready() const { return ready_; }
  // Starts `playable` (from playable_midi_file) from its beginning.
  bool play(std::string_view playable);
  void render(float* stereo, int frames);
  int active_voices() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  std::string file_;
  bool ready_ = false;
};

}  // namespace talven::sound

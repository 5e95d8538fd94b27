// CD audio from a virtual disc: the audio tracks of a game's CD ripped to files in a folder of the
// game (`cd/` unless the configuration names another), played through the audio engine's mixer.
// Inside the module; everything here runs on the window thread.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talven::sound {

inline constexpr int kMaxTracks = 99;

// A disc as the player reads its table of contents. Track numbers without a readable audio file
// are data tracks (a mixed-mode game disc keeps its data on track 1).
struct VirtualDisc {
  int track_count = 0;  // the highest track number with a file
  int audio_tracks = 0;
  std::array<std::int32_t, kMaxTracks + 1> seconds{};  // [0]: the whole disc; [t]: track t, whole seconds
  std::array<bool, kMaxTracks + 1> audio{};
  std::array<std::string, kMaxTracks + 1> files{};  // host paths of the audio tracks
};

// Reads the track files of `host_folder`: track1, track01, track_1, track_01, "Track 01" (any
// letter case, with .ogg, .flac, .wav or .mp3). Files that do not decode, or hold no sound, count
// as data tracks and are named in `problems` (one line each). Nothing when the folder is missing.
bool read_virtual_disc(const std::string& host_folder, VirtualDisc& disc, std::string* problems = nullptr);

// A track's sound from one whole second to another, decoded (libsndfile: WAV, FLAC, Ogg, MP3) and
// resampled to the mixer's rate as stereo floats, a step at a time: what a playing track's thread
// runs, and what the benchmark times.
class TrackDecoder {
 public:
  TrackDecoder() = default;
  ~TrackDecoder();
  TrackDecoder(const TrackDecoder&) = delete;
  TrackDecoder& operator=(const TrackDecoder&) = delete;
  bool open(const std::string& host_path, std::int64_t first_second, std::int64_t end_second, int output_rate);
  // The most frames one decode() gives.
  std::size_t largest_step() const;
  // The next step's frames into `out` (room for largest_step()); 0 once done.
  std::size_t decode(float* out);
  bool done() const { return done_; }

 private:
  void* file_ = nullptr;       // SNDFILE
  void* resampler_ = nullptr;  // SpeexResamplerState, when the rates differ
  int channels_ = 0, source_rate_ = 0, output_rate_ = 0;
  std::int64_t position_ = 0, end_ = 0, step_ = 0;
  bool done_ = false;
  std::vector<float> raw_, stereo_;
};

// Start-up with the `CD` setting on: `folder_setting` is the game path of the tracks' folder.
void start_cd(const std::string& folder_setting);
void stop_cd();
void pause_cd();   // focus loss: as cd_pause
void resume_cd();  // as cd_replay

std::uint32_t cd_play(std::int32_t track, std::int32_t fade_ms);
std::uint32_t cd_stop(std::int32_t fade_ms);
std::uint32_t cd_pause();
std::uint32_t cd_replay();
std::uint32_t cd_set_volume(std::int32_t volume);
std::uint32_t cd_get_volume();
std::uint32_t cd_is_playing();
std::uint32_t cd_get_position(std::int32_t mode);
std::uint32_t cd_get_length(std::int32_t track);
std::uint32_t cd_set_repeat(std::int32_t mode);
std::uint32_t cd_eject();

// The window-thread notifications: a track played to its end (`playback` names which playback),
// and a tick of the fade timer.
void cd_track_finished(std::uint32_t playback);
void cd_fade_tick(std::uint32_t fade);

}  // namespace talven::sound

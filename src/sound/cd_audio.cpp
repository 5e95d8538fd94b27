#include "sound/cd_audio.h"

#include <sndfile.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file_metadata.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "sound/audio_engine.h"
#include "sound/mixer.h"
#include "sound/ring_channel.h"
#include "vm/requests.h"

namespace talven::sound {
namespace {

// The notifications of the output side to the window thread, as the player's device sent them.
constexpr std::uint32_t kTrackFinishedRequest = vm::kUserMessage + 240;
constexpr std::uint32_t kFadeTickRequest = vm::kUserMessage + 241;

constexpr int kFadeTop = 10000, kFadeStep = 313;
// A volume control's full scale; the volume applied is computed on it in the engine's integer order.
constexpr std::int64_t kControlScale = 65535;
constexpr int kRingSeconds = 1;

// The gain of the CD channel: the control value the player would set, as a fraction of full scale.
std::atomic<float> g_gain{1.0f};

// ---- The track's playback ----------------------------------------------------------------------

}  // namespace

TrackDecoder::~TrackDecoder() {
  if (resampler_) speex_resampler_destroy(static_cast<SpeexResamplerState*>(resampler_));
  if (file_) sf_close(static_cast<SNDFILE*>(file_));
}

bool TrackDecoder::open(const std::string& host_path, std::int64_t first_second, std::int64_t end_second, int output_rate) {
  SF_INFO info{};
  SNDFILE* file = sf_open(host_path.c_str(), SFM_READ, &info);
  if (file == nullptr) return false;
  file_ = file;
  if (info.samplerate <= 0 || info.channels <= 0) return false;
  channels_ = info.channels;
  source_rate_ = info.samplerate;
  output_rate_ = output_rate;
  end_ = end_second * info.samplerate;
  position_ = std::min(first_second * info.samplerate, end_);
  if (position_ > 0 && sf_seek(file, position_, SEEK_SET) < 0) return false;
  if (source_rate_ != output_rate_) {
    int error = 0;
    resampler_ = speex_resampler_init(2, static_cast<spx_uint32_t>(source_rate_), static_cast<spx_uint32_t>(output_rate_), 3, &error);
    if (resampler_ == nullptr) return false;
  }
  step_ = std::clamp<std::int64_t>(std::int64_t(output_rate_) / 8 * source_rate_ / output_rate_, 64, 8192);
  raw_.resize(static_cast<std::size_t>(step_ * channels_));
  stereo_.resize(static_cast<std::size_t>(2 * step_));
  return true;
}

std::size_t TrackDecoder::largest_step() const {
  return static_cast<std::size_t>(step_ * output_rate_ / std::max(source_rate_, 1) + 64);
}

std::size_t TrackDecoder::decode(float* out) {
  if (done_ || file_ == nullptr) return 0;
  const sf_count_t want = static_cast<sf_count_t>(std::min<std::int64_t>(step_, std::max<std::int64_t>(end_ - position_, 0)));
  const sf_count_t got = want > 0 ? sf_readf_float(static_cast<SNDFILE*>(file_), raw_.data(), want) : 0;
  position_ += std::max<sf_count_t>(got, 0);
  if (got <= 0 || position_ >= end_) done_ = true;
  for (sf_count_t i = 0; i < got; ++i) {
    const float* f = raw_.data() + i * channels_;
    stereo_[static_cast<std::size_t>(2 * i)] = f[0];
    stereo_[static_cast<std::size_t>(2 * i + 1)] = channels_ > 1 ? f[1] : f[0];
  }
  const spx_uint32_t frames = static_cast<spx_uint32_t>(std::max<sf_count_t>(got, 0));
  if (resampler_ == nullptr) {
    std::copy(stereo_.begin(), stereo_.begin() + 2 * frames, out);
    return frames;
  }
  auto* r = static_cast<SpeexResamplerState*>(resampler_);
  spx_uint32_t in = frames, made = static_cast<spx_uint32_t>(largest_step());
  speex_resampler_process_interleaved_float(r, stereo_.data(), &in, out, &made);
  if (done_) {
    // The filter's delay line still holds the track's last moments.
    spx_uint32_t zeros = std::min<spx_uint32_t>(static_cast<spx_uint32_t>(speex_resampler_get_input_latency(r)),
                                                static_cast<spx_uint32_t>(step_));
    std::fill(stereo_.begin(), stereo_.end(), 0.0f);
    spx_uint32_t tail = static_cast<spx_uint32_t>(largest_step()) - made;
    speex_resampler_process_interleaved_float(r, stereo_.data(), &zeros, out + 2 * made, &tail);
    made += tail;
  }
  return made;
}

namespace {

// One track playing: a decoder thread fills the channel's ring, the output thread drains it. When
// the ring has run dry after the end, the decoder posts the finished notification with the
// playback's number.
class TrackPlayback {
 public:
  TrackPlayback(std::uint32_t id, std::unique_ptr<TrackDecoder> decoder, int output_rate)
      : id_(id), decoder_(std::move(decoder)), channel_(static_cast<std::size_t>(output_rate * kRingSeconds)) {
    apply_gain();
    thread_ = std::thread([this] { run(); });
  }

  ~TrackPlayback() {
    stop_ = true;
    thread_.join();
  }

  RingChannel& channel() { return channel_; }
  void apply_gain() { channel_.set_gain(g_gain.load(std::memory_order_relaxed)); }
  void set_paused(bool paused) { channel_.set_paused(paused); }
  std::uint64_t frames_played() const { return channel_.frames_played(); }

 private:
  void run() {
    const std::size_t step = decoder_->largest_step();
    std::vector<float> block(2 * step);
    while (!stop_) {
      if (!decoder_->done() && channel_.space() >= step) {
        channel_.push(block.data(), decoder_->decode(block.data()));
        continue;
      }
      if (decoder_->done() && channel_.empty()) {
        vm::post_request(kTrackFinishedRequest, id_, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  const std::uint32_t id_;
  std::unique_ptr<TrackDecoder> decoder_;
  RingChannel channel_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---- The fade timer ----------------------------------------------------------------------------

// Posts a tick to the window thread every period until stopped; a tick carries the number of the
// run it belongs to, so one already queued when the timer stops is recognised and ignored.
class FadeTimer {
 public:
  ~FadeTimer() { stop(); }
  void start(int period_ms, std::uint32_t run) {
    stop();
    run_ = run;
    thread_ = std::thread([this, period = std::chrono::milliseconds(period_ms), run] {
      // Ticks keep to their schedule from the start, so a late one does not delay the rest.
      auto next = std::chrono::steady_clock::now() + period;
      std::unique_lock lock(mutex_);
      while (!wake_.wait_until(lock, next, [this] { return stopping_; })) {
        vm::post_request(kFadeTickRequest, run, 0);
        next += period;
      }
    });
  }
  void stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    stopping_ = false;
  }
  bool running() const { return thread_.joinable(); }
  std::uint32_t run() const { return run_; }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::uint32_t run_ = 0;
  std::thread thread_;
};

// ---- The player's state (window thread) ------------------------------------------------------

struct CdPlayer {
  bool initialised = false;
  bool has_folder = false;
  std::string folder;
  VirtualDisc disc;
  bool tray_open = false;

  bool playing = false;
  int pause_count = 0;
  int current = 0;
  int repeat = 0;
  int start_seconds = 0;  // where the current playback began in its track

  int volume = 100;
  int fade_level = kFadeTop;
  int fade_step = 0;
  bool stop_after_fade = false;

  std::uint32_t playbacks = 0, fades = 0;  // numbers given out
  bool told_no_tracks = false;  // the player has been told why nothing plays
  std::unique_ptr<TrackPlayback> playback;
  FadeTimer timer;
};
CdPlayer g_cd;
Mixer* g_mixer = nullptr;

void apply_volume() {
  const std::int64_t value = kControlScale * g_cd.fade_level / kFadeTop * g_cd.volume / 100;
  g_gain.store(static_cast<float>(value) / static_cast<float>(kControlScale), std::memory_order_relaxed);
  if (g_cd.playback) g_cd.playback->apply_gain();
}

void read_contents() {
  g_cd.disc = VirtualDisc();
  if (!g_cd.has_folder) return;
  std::string problems;
  read_virtual_disc(g_cd.folder, g_cd.disc, &problems);
  if (!problems.empty()) std::fputs(problems.c_str(), stderr);
}

void stop_track() {
  g_cd.playing = false;
  g_cd.pause_count = 0;
  g_cd.current = 0;
  if (g_cd.playback) {
    if (g_mixer) g_mixer->detach(&g_cd.playback->channel());
    g_cd.playback.reset();
  }
}

bool play_track(int track, int from_seconds) {
  if (g_cd.playing || track < 1 || track > g_cd.disc.track_count || g_mixer == nullptr) return false;
  const auto t = static_cast<std::size_t>(track);
  if (!g_cd.disc.audio[t]) return false;  // a data track: the device refuses to play it
  // The device plays to the track's length in whole seconds.
  auto decoder = std::make_unique<TrackDecoder>();
  if (!decoder->open(g_cd.disc.files[t], from_seconds, g_cd.disc.seconds[t], g_mixer->output_rate())) return false;
  g_cd.playback = std::make_unique<TrackPlayback>(++g_cd.playbacks, std::move(decoder), g_mixer->output_rate());
  g_mixer->attach(&g_cd.playback->channel());
  g_cd.playing = true;
  g_cd.pause_count = 0;
  g_cd.current = track;
  g_cd.start_seconds = from_seconds;
  return true;
}

void start_fade(int fade_ms, int step) {
  g_cd.fade_step = step;
  // A window timer fires no faster than every 10 ms.
  g_cd.timer.start(std::max(fade_ms / 32, 10), ++g_cd.fades);
}

void end_fade_at_top() {
  if (g_cd.timer.running() || g_cd.fade_step != 0) {
    g_cd.timer.stop();
    g_cd.fade_step = 0;
    g_cd.fade_level = kFadeTop;
  }
  apply_volume();
}

// A file named .mp3 begins with an ID3 tag or an MPEG audio frame's sync bits.
bool looks_like_mp3_if_named_so(const std::string& path) {
  std::string lower;
  for (char c : path.substr(path.size() >= 4 ? path.size() - 4 : 0)) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  if (lower != ".mp3") return true;
  platform::HostFile file = platform::open_for_reading(path);
  unsigned char head[3] = {};
  std::size_t got = 0;
  if (!file.is_open() || !file.read(head, 3, &got) || got < 3) return false;
  return (head[0] == 'I' && head[1] == 'D' && head[2] == '3') || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0);
}

bool is_track_name(const std::string& name, int& number) {
  std::string lower;
  for (char c : name) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  const std::size_t dot = lower.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = lower.substr(dot + 1);
  if (ext != "ogg" && ext != "flac" && ext != "wav" && ext != "mp3") return false;
  std::string base = lower.substr(0, dot);
  if (base.rfind("track", 0) != 0) return false;
  base.erase(0, 5);
  if (!base.empty() && (base[0] == ' ' || base[0] == '_' || base[0] == '-')) base.erase(0, 1);
  if (base.empty() || base.size() > 2) return false;
  number = 0;
  for (char c : base) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  return number >= 1 && number <= kMaxTracks;
}

}  // namespace

bool read_virtual_disc(const std::string& host_folder, VirtualDisc& disc, std::string* problems) {
  disc = VirtualDisc();
  auto entries = platform::list_directory(host_folder);
  if (!entries) return false;
  std::sort(entries->begin(), entries->end());
  std::array<bool, kMaxTracks + 1> taken{};
  for (const std::string& name : *entries) {
    int number = 0;
    if (!is_track_name(name, number)) continue;
    const std::string path = host_folder + "/" + name;
    auto& file = disc.files[static_cast<std::size_t>(number)];
    if (taken[static_cast<std::size_t>(number)]) {
      if (problems) *problems += "talven: CD track " + path + " is ignored: another file is track " + std::to_string(number) + "\n";
      continue;
    }
    taken[static_cast<std::size_t>(number)] = true;
    SF_INFO info{};
    // The MP3 decoder talks on stderr about what is not MP3 at all, so that is refused here first.
    SNDFILE* sound = looks_like_mp3_if_named_so(path) ? sf_open(path.c_str(), SFM_READ, &info) : nullptr;
    disc.track_count = std::max(disc.track_count, number);
    if (sound == nullptr || info.samplerate <= 0 || info.channels <= 0 || info.frames <= 0) {
      if (problems)
        *problems += "talven: CD track " + path + (sound == nullptr ? " is not a sound file that can be decoded" : " holds no sound") +
                     "; it counts as a data track\n";
      if (sound) sf_close(sound);
      continue;
    }
    file = path;
    disc.audio[static_cast<std::size_t>(number)] = true;
    disc.seconds[static_cast<std::size_t>(number)] = static_cast<std::int32_t>(std::min<sf_count_t>(info.frames / info.samplerate, 0x7FFFFFFF));
    ++disc.audio_tracks;
    sf_close(sound);
  }
  std::int64_t total = 0;
  for (int t = 1; t <= disc.track_count; ++t) total += disc.seconds[static_cast<std::size_t>(t)];
  disc.seconds[0] = static_cast<std::int32_t>(std::min<std::int64_t>(total, 0x7FFFFFFF));
  return true;
}

void start_cd(const std::string& folder_setting) {
  stop_cd();
  vm::set_request_handler(kTrackFinishedRequest, [](std::uint32_t w, std::uint32_t) -> std::uint32_t {
    cd_track_finished(w);
    return 0;
  });
  vm::set_request_handler(kFadeTickRequest, [](std::uint32_t w, std::uint32_t) -> std::uint32_t {
    cd_fade_tick(w);
    return 0;
  });
  g_mixer = open_audio_engine();
  g_cd.initialised = true;
  g_cd.fade_level = kFadeTop;
  g_cd.volume = 100;
  apply_volume();
  const std::string setting = folder_setting.empty() ? "cd" : folder_setting;
  g_cd.folder = platform::resolve_game_path(setting);
  g_cd.has_folder = platform::is_directory(g_cd.folder);
  g_cd.told_no_tracks = false;
  read_contents();
}

void stop_cd() {
  g_cd.timer.stop();
  stop_track();
  g_cd.disc = VirtualDisc();
  g_cd.initialised = false;
  g_cd.has_folder = false;
  g_cd.tray_open = false;
  g_cd.repeat = 0;
  g_cd.fade_step = 0;
  g_cd.stop_after_fade = false;
  g_cd.volume = 100;
  g_cd.fade_level = kFadeTop;
  apply_volume();
  g_mixer = nullptr;
}

void pause_cd() { cd_pause(); }
void resume_cd() { cd_replay(); }

std::uint32_t cd_play(std::int32_t track, std::int32_t fade_ms) {
  if (!g_cd.initialised) return 0;
  // A game that looks for its disc quietly is left alone; one that plays from it without tracks
  // tells the player once where they belong.
  if (g_cd.disc.audio_tracks == 0 && !g_cd.tray_open && !g_cd.told_no_tracks) {
    g_cd.told_no_tracks = true;
    std::fprintf(stderr, "talven: cd_play: %s %s; the game's CD audio tracks belong there as track02.ogg, track03.flac, ...\n",
                 g_cd.folder.c_str(), g_cd.has_folder ? "holds no audio tracks" : "is missing");
  }
  stop_track();
  if (fade_ms > 0) {
    g_cd.timer.stop();
    g_cd.fade_level = 0;
    apply_volume();
    if (!play_track(track, 0)) return 0;
    g_cd.stop_after_fade = false;
    start_fade(fade_ms, kFadeStep);
    return 1;
  }
  end_fade_at_top();
  return play_track(track, 0) ? 1 : 0;
}

std::uint32_t cd_stop(std::int32_t fade_ms) {
  if (!g_cd.initialised) return 0;
  if (fade_ms > 0) {
    if (g_cd.playing) {
      g_cd.timer.stop();
      g_cd.stop_after_fade = true;
      start_fade(fade_ms, -kFadeStep);
    }
    return 1;
  }
  stop_track();
  end_fade_at_top();
  return 1;
}

std::uint32_t cd_pause() {
  if (++g_cd.pause_count == 1 && g_cd.playback) g_cd.playback->set_paused(true);
  return 1;
}

std::uint32_t cd_replay() {
  if (g_cd.pause_count > 0 && --g_cd.pause_count == 0 && g_cd.playing && g_cd.playback) g_cd.playback->set_paused(false);
  return 1;
}

std::uint32_t cd_set_volume(std::int32_t volume) {
  g_cd.volume = std::clamp(volume, 0, 100);
  apply_volume();
  return 1;
}

std::uint32_t cd_get_volume() { return static_cast<std::uint32_t>(g_cd.volume); }

std::uint32_t cd_is_playing() { return g_cd.playing && g_cd.pause_count == 0 ? 1 : 0; }

std::uint32_t cd_get_position(std::int32_t mode) {
  if (!g_cd.playing || !g_cd.playback || g_mixer == nullptr) return 0;
  const auto& seconds = g_cd.disc.seconds;
  const int current = g_cd.current;
  const std::int64_t p = g_cd.start_seconds + static_cast<std::int64_t>(g_cd.playback->frames_played() / static_cast<std::uint64_t>(g_mixer->output_rate()));
  auto audio_sum = [&](int from, int to) {
    std::int64_t sum = 0;
    for (int t = from; t <= to; ++t)
      if (g_cd.disc.audio[static_cast<std::size_t>(t)]) sum += seconds[static_cast<std::size_t>(t)] - 2;
    return sum;
  };
  const std::int64_t left = seconds[static_cast<std::size_t>(current)] - p - 2;
  std::int64_t result;
  switch (mode) {
    case 1: result = left; break;
    case 2: result = p + audio_sum(1, current - 1); break;
    case 3: result = left + audio_sum(current + 1, g_cd.disc.track_count); break;
    default: result = p; break;
  }
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(result, 0, 0x7FFFFFFF));
}

std::uint32_t cd_get_length(std::int32_t track) {
  if (track == 0) {
    std::int64_t sum = 0;
    for (int t = 1; t <= g_cd.disc.track_count; ++t) sum += g_cd.disc.seconds[static_cast<std::size_t>(t)];
    return static_cast<std::uint32_t>(std::min<std::int64_t>(sum, 0x7FFFFFFF));
  }
  if (track < 1 || track > g_cd.disc.track_count) return 0;
  return static_cast<std::uint32_t>(g_cd.disc.seconds[static_cast<std::size_t>(track)]);
}

std::uint32_t cd_set_repeat(std::int32_t mode) {
  const int previous = g_cd.repeat;
  g_cd.repeat = mode;
  return static_cast<std::uint32_t>(previous);
}

std::uint32_t cd_eject() {
  if (!g_cd.initialised || !g_cd.has_folder) return 0;
  if (!g_cd.tray_open) {
    // The disc leaves the drive: what played stops and the table of contents is gone.
    g_cd.tray_open = true;
    stop_track();
    g_cd.disc = VirtualDisc();
  } else {
    g_cd.tray_open = false;
    read_contents();
  }
  return 1;
}

void cd_track_finished(std::uint32_t playback) {
  if (!g_cd.playing || playback != g_cd.playbacks) return;
  const int current = g_cd.current, count = g_cd.disc.track_count;
  auto audio = [&](int t) { return g_cd.disc.audio[static_cast<std::size_t>(t)]; };
  int next = 0;
  switch (g_cd.repeat) {
    case 1: next = current; break;
    case 2:
      // Onwards to the next audio track below the highest; the highest is only ever played by cd_play.
      for (int t = current + 1; t < count; ++t)
        if (audio(t)) {
          next = t;
          break;
        }
      break;
    case 3: {
      // Round the tracks below the highest, back to 1 at it, until the search comes back. A search
      // that starts on the highest track never comes back to it, so it stops after one round.
      int t = current;
      for (int steps = 0; steps < count; ++steps) {
        t = t + 1 >= count ? 1 : t + 1;
        if (t == current) break;
        if (audio(t)) {
          next = t;
          break;
        }
      }
      break;
    }
    default: break;
  }
  stop_track();
  if (next != 0 && !play_track(next, 0)) stop_track();
}

void cd_fade_tick(std::uint32_t fade) {
  if (!g_cd.timer.running() || fade != g_cd.timer.run()) return;
  g_cd.fade_level = std::clamp(g_cd.fade_level + g_cd.fade_step, 0, kFadeTop);
  apply_volume();
  if (g_cd.fade_level == 0 || g_cd.fade_level == kFadeTop) {
    g_cd.timer.stop();
    g_cd.fade_step = 0;
    if (g_cd.stop_after_fade) {
      stop_track();
      g_cd.fade_level = kFadeTop;
      apply_volume();
    }
  }
}

}  // namespace talven::sound

#include "sound/movie_player.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/pack_file.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/text_encoding.h"
#include "sound/audio_engine.h"
#include "sound/mixer.h"
#include "sound/movie_decoder.h"
#include "sound/ring_channel.h"
#include "vm/report.h"
#include "vm/requests.h"

namespace talven::sound {
namespace {

// The player's notification that the file played to its end, as the graph's event message was.
constexpr std::uint32_t kMovieEventRequest = vm::kUserMessage + 50;  // 1074
constexpr std::size_t kQueuedFrames = 8;
constexpr int kAudioRingMs = 500;
constexpr std::int32_t kSilent = -10000;

using Clock = std::chrono::steady_clock;

void report_message(const char* utf8) { vm::report(1, "%s", platform::cp932(utf8)); }

// One open file: the decoder's thread fills a queue of pictures and the sound's ring; the window
// thread picks the picture that is due. Everything the two share is under `lock`, except the
// ring, which keeps its own.
class MovieRun {
 public:
  MovieRun(std::unique_ptr<MovieDecoder> decoder, int rate, void (*picture_due)())
      : decoder_(std::move(decoder)), rate_(rate), picture_due_(picture_due),
        audio_(static_cast<std::size_t>(rate) * kAudioRingMs / 1000) {
    audio_.set_paused(true);
  }
  ~MovieRun() {
    {
      std::lock_guard guard(lock_);
      quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  const MovieInfo& info() const { return decoder_->info(); }
  RingChannel& audio() { return audio_; }

  // Decodes the first picture, shown while the file is cued; then the thread starts, paused.
  void cue() {
    std::vector<VideoFrame> frames;
    std::vector<AudioBlock> blocks;
    while (info().has_video && frames.empty() && decoder_->decode_next(frames, blocks)) {
    }
    for (AudioBlock& b : blocks) pending_audio_.insert(pending_audio_.end(), b.samples.begin(), b.samples.end());
    for (VideoFrame& f : frames) queue_.push_back(std::move(f));
    if (!queue_.empty()) {
      shown_ = std::move(queue_.front());
      queue_.pop_front();
    }
    thread_ = std::thread([this] { run(); });
  }

  // From the start (at play, and when a repeating file ends).
  void restart() {
    std::lock_guard guard(lock_);
    rewind_ = true;
    ended_ = false;
    told_end_ = false;
    wake_.notify_all();
  }
  void set_running(bool running) {
    std::lock_guard guard(lock_);
    if (running == running_) return;
    running_ = running;
    if (running) {
      resumed_at_ = Clock::now();
    } else {
      wall_before_ += Clock::now() - resumed_at_;
    }
    audio_.set_paused(!running);
    wake_.notify_all();
  }

  // The picture due now; null before the first. Window thread.
  const platform::PictureOverlay* picture(const platform::Rect& rect) {
    std::lock_guard guard(lock_);
    advance();
    if (has_due_) {
      shown_ = std::move(due_);
      has_due_ = false;
    }
    if (shown_.pixels.empty()) return nullptr;
    overlay_ = platform::PictureOverlay{shown_.pixels.data(), shown_.width, shown_.height, rect};
    return &overlay_;
  }

 private:
  // Moves the queue on to the clock (under the lock): the latest picture that is due waits in
  // `due_` for the next present, and those it overtook are dropped. True when a new one came due.
  bool advance() {
    const double now = clock_seconds();
    bool fresh = false;
    while (!queue_.empty() && queue_.front().time <= now) {
      due_ = std::move(queue_.front());
      queue_.pop_front();
      has_due_ = fresh = true;
    }
    return fresh;
  }

  // Seconds into the file: the sound's frames played while it has sound to play, else the wall
  // clock (a file without sound, or pictures that go on after the sound ended).
  double clock_seconds() {
    if (info().has_audio && !sound_done_) {
      const double at = static_cast<double>(audio_.frames_played()) / rate_;
      if (!(ended_ && pending_audio_.empty() && audio_.empty())) return at;
      sound_done_ = true;
      base_ = at;
      wall_before_ = {};
      resumed_at_ = Clock::now();
    }
    Clock::duration played = wall_before_;
    if (running_) played += Clock::now() - resumed_at_;
    return base_ + std::chrono::duration<double>(played).count();
  }

  void run() {
    std::vector<VideoFrame> frames;
    std::vector<AudioBlock> blocks;
    std::unique_lock guard(lock_);
    while (!quit_) {
      if (rewind_) {
        rewind_ = false;
        queue_.clear();
        pending_audio_.clear();
        audio_.clear();
        base_ = 0;
        sound_done_ = false;
        wall_before_ = {};
        resumed_at_ = Clock::now();
        guard.unlock();
        decoder_->rewind();
        guard.lock();
        continue;
      }
      // The sound waiting for room in the ring goes first.
      if (!pending_audio_.empty()) {
        const std::size_t pushed = audio_.push(pending_audio_.data(), pending_audio_.size() / 2);
        pending_audio_.erase(pending_audio_.begin(), pending_audio_.begin() + 2 * static_cast<std::ptrdiff_t>(pushed));
      }
      const bool room = queue_.size() < kQueuedFrames && pending_audio_.empty();
      if (room && !ended_) {
        guard.unlock();
        frames.clear();
        blocks.clear();
        const bool more = decoder_->decode_next(frames, blocks);
        guard.lock();
        if (rewind_) continue;
        for (VideoFrame& f : frames) queue_.push_back(std::move(f));
        for (AudioBlock& b : blocks) pending_audio_.insert(pending_audio_.end(), b.samples.begin(), b.samples.end());
        if (!more) ended_ = true;
        continue;
      }
      if (running_ && advance() && picture_due_) picture_due_();
      if (ended_ && running_ && queue_.empty() && pending_audio_.empty() && audio_.empty() && !told_end_) {
        told_end_ = true;
        vm::post_request(kMovieEventRequest, 0, 0);
      }
      wake_.wait_for(guard, std::chrono::milliseconds(4));
    }
  }

  std::unique_ptr<MovieDecoder> decoder_;
  const int rate_;
  void (*picture_due_)();
  RingChannel audio_;

  std::mutex lock_;
  std::condition_variable wake_;
  std::thread thread_;
  bool quit_ = false, rewind_ = false, ended_ = false, told_end_ = false, running_ = false, sound_done_ = false;
  std::deque<VideoFrame> queue_;
  std::vector<float> pending_audio_;
  double base_ = 0;
  Clock::time_point resumed_at_ = Clock::now();
  Clock::duration wall_before_{};
  VideoFrame due_, shown_;
  bool has_due_ = false;
  platform::PictureOverlay overlay_;
};

// What was on the screen when the movies stopped with the runtime: the picture at exit, for
// --screenshot, which is written after the runtime stopped.
struct LastPicture {
  std::vector<std::uint32_t> pixels;
  platform::PictureOverlay overlay;
};

struct MoviePlayer {
  int screen_width = 640, screen_height = 480;
  int picture_threads = kMovieDecoderThreads;
  void (*picture_due)() = nullptr;
  std::unique_ptr<MovieRun> run;
  bool playing = false;
  int pause_count = 0;
  bool repeat = false;
  std::int32_t level = 0;  // hundredths of a decibel
  bool has_rect = false;
  platform::Rect rect;
  LastPicture last;
};
MoviePlayer g_movie;
Mixer* g_mixer = nullptr;

void apply_level(std::int32_t level) {
  if (g_movie.run) g_movie.run->audio().set_gain(gain_of(level));
}

void ask_for_picture() {
  if (g_movie.picture_due) g_movie.picture_due();
}

std::uint32_t serve_movie_event(std::uint32_t, std::uint32_t) {
  if (!g_movie.run || !g_movie.playing) return 0;
  if (g_movie.repeat) {
    g_movie.run->restart();
  } else {
    g_movie.playing = false;
    g_movie.run->set_running(false);
  }
  return 0;
}

}  // namespace

std::int32_t media_volume_level(std::int32_t volume) {
  const std::int32_t v = std::min(volume, 100);
  if (v < 1) return kSilent;
  return static_cast<std::int32_t>(5000.0 * std::log10(v / 100.0));
}

void start_movies(int screen_width, int screen_height, bool multi_threading, void (*picture_due)()) {
  stop_movies();
  g_movie.last = LastPicture();
  g_movie.picture_threads = multi_threading ? kMovieDecoderThreads : 1;
  // Why a file does not open is told in our words (media_open's message and reason).
  av_log_set_level(AV_LOG_QUIET);
  g_movie.screen_width = screen_width;
  g_movie.screen_height = screen_height;
  g_movie.picture_due = picture_due;
  vm::set_request_handler(kMovieEventRequest, serve_movie_event);
}

void stop_movies() {
  LastPicture last;
  if (const platform::PictureOverlay* shown = movie_picture()) {
    last.pixels.assign(shown->texels, shown->texels + std::size_t(shown->width) * shown->height);
    last.overlay = *shown;
    last.overlay.texels = last.pixels.data();
  }
  media_close();
  g_movie = MoviePlayer();
  g_movie.last = std::move(last);
  g_movie.last.overlay.texels = g_movie.last.pixels.empty() ? nullptr : g_movie.last.pixels.data();
}

void pause_movie() { media_pause(); }
void resume_movie() { media_replay(); }

std::uint32_t media_open(const std::string& name) {
  if (platform::display().window_is_minimized()) return 0;
  media_close();
  MovieSource source;
  // A loose file is read where it lies; one in an archive or packed is read into memory.
  const std::string path = platform::resolve_game_path(name);
  if (platform::path_exists(path) && !platform::is_directory(path)) {
    source.host_path = path;
  } else if (!archive::read_whole_exp_file(name.c_str(), archive::kMaxContentSize, source.bytes) || source.bytes.empty()) {
    report_message("レンダーファイルのオープンに失敗しました。");
    std::fprintf(stderr, "talven: media_open %s: no such file, loose or in an archive, or it is empty\n",
                 platform::cp932_to_utf8(name).c_str());
    return 0;
  }
  if (g_mixer == nullptr) g_mixer = open_audio_engine();
  const int rate = g_mixer ? g_mixer->output_rate() : 48000;
  auto decoder = std::make_unique<MovieDecoder>();
  std::string why;
  if (!decoder->open(source, rate, &why, g_movie.picture_threads)) {
    report_message("レンダーファイルのオープンに失敗しました。");
    std::fprintf(stderr, "talven: media_open %s: %s\n", platform::cp932_to_utf8(name).c_str(), why.c_str());
    return 0;
  }
  g_movie.run = std::make_unique<MovieRun>(std::move(decoder), rate, g_movie.picture_due);
  apply_level(g_movie.level);
  if (g_mixer && g_movie.run->info().has_audio) g_mixer->attach(&g_movie.run->audio());
  g_movie.run->cue();
  g_movie.playing = false;
  g_movie.pause_count = 0;
  ask_for_picture();
  return 1;
}

std::uint32_t media_close() {
  if (!g_movie.run) return 1;
  if (g_mixer) g_mixer->detach(&g_movie.run->audio());
  g_movie.run.reset();
  g_movie.playing = false;
  g_movie.pause_count = 0;
  ask_for_picture();  // the picture goes
  return 1;
}

std::uint32_t media_play() {
  if (!g_movie.run) return 0;
  // The volume a stop took away comes back with the next play.
  apply_level(g_movie.level);
  g_movie.run->restart();
  g_movie.playing = true;
  g_movie.pause_count = 0;
  g_movie.run->set_running(true);
  return 1;
}

std::uint32_t media_stop() {
  if (!g_movie.run) return 0;
  if (g_movie.run->info().has_audio) {
    // The sound falls silent before the file stops, as the player did, so it ends without a click.
    apply_level(kSilent);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  g_movie.playing = false;
  g_movie.run->set_running(false);
  return 1;
}

std::uint32_t media_pause() {
  if (++g_movie.pause_count == 1 && g_movie.playing) {
    if (!g_movie.run) return 0;
    g_movie.run->set_running(false);
  }
  return 1;
}

std::uint32_t media_replay() {
  if (g_movie.pause_count > 0 && --g_movie.pause_count == 0 && g_movie.playing && g_movie.run) g_movie.run->set_running(true);
  return 1;
}

std::uint32_t media_is_playing() { return g_movie.playing ? 1 : 0; }

std::uint32_t media_set_repeat(std::int32_t flag) {
  g_movie.repeat = flag != 0;
  return 1;
}

std::uint32_t media_set_size(const platform::Rect* rect) {
  g_movie.has_rect = rect != nullptr;
  if (rect) g_movie.rect = *rect;
  ask_for_picture();
  return 1;
}

std::uint32_t media_set_volume(std::int32_t volume) {
  g_movie.level = media_volume_level(volume);
  apply_level(g_movie.level);
  return 1;
}

const platform::PictureOverlay* movie_picture() {
  if (!g_movie.run) return g_movie.last.overlay.texels != nullptr ? &g_movie.last.overlay : nullptr;
  if (!g_movie.run->info().has_video) return nullptr;
  const platform::Rect whole{0, 0, g_movie.screen_width, g_movie.screen_height};
  const platform::Rect r = g_movie.has_rect && g_movie.rect.width > 0 && g_movie.rect.height > 0 ? g_movie.rect : whole;
  return g_movie.run->picture(r);
}

}  // namespace talven::sound

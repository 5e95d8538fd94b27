// The movie player: one media file at a time (a movie, or sound alone), decoded by FFmpeg on a
// thread of its own, its sound through the audio engine's mixer and its picture laid over the
// game's by the presentation, in the movie rectangle. Inside the module: the built-ins reach the
// media_* functions on the window thread, and the presentation asks for the picture there too.
#pragma once
#include <cstdint>
#include <string>

#include "platform/window.h"

namespace talven::sound {

// Start-up: the game screen's size (the whole-screen movie rectangle), whether pictures may decode
// on a second core (MultiThreading), and how the window thread is asked to present again when a
// new picture is due (any thread may call it).
void start_movies(int screen_width, int screen_height, bool multi_threading, void (*picture_due)());
void stop_movies();
void pause_movie();   // focus loss: as media_pause
void resume_movie();  // as media_replay

std::uint32_t media_open(const std::string& name);
std::uint32_t media_close();
std::uint32_t media_play();
std::uint32_t media_stop();
std::uint32_t media_pause();
std::uint32_t media_replay();
std::uint32_t media_is_playing();
std::uint32_t media_set_repeat(std::int32_t flag);
// Null: the whole game screen.
std::uint32_t media_set_size(const platform::Rect* rect);
std::uint32_t media_set_volume(std::int32_t volume);

// The stored level of a script's volume 0 ... 100, in hundredths of a decibel.
std::int32_t media_volume_level(std::int32_t volume);

// The picture the movie shows now, picked by the clock (frames that are late are dropped), or null
// when no movie picture is open. Window thread; valid until its next call.
const platform::PictureOverlay* movie_picture();

}  // namespace talven::sound

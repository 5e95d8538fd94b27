// Sound and media: the 64 sound slots, MIDI music, CD audio and movies, all played through one
// mixer. What the other modules and the shell may use of this module.
#pragma once
#include <string>

#include "vm/call_gate.h"

namespace talven::sound {

// This module's built-ins, by table index; the shell assembles the table from every module's.
vm::BuiltinSpan builtins();

// Which parts of the module start, from the configuration.
struct SoundSettings {
  bool direct_sound = true;  // the sound slots
  bool direct_music = false;  // MIDI music
  bool cd = false;            // CD audio
  std::string soundfont;      // [Talven] SoundFont: empty finds the system's
  std::string cd_folder;      // [Talven] CDFolder: the game path of the CD's tracks
  int screen_width = 640, screen_height = 480;  // the game screen, the movies' whole-screen rectangle
  bool multi_threading = true;                  // a movie's pictures may decode on a second core
  void (*picture_due)() = nullptr;  // asks the window thread to present when a movie's picture is due
};

// Window thread, before any script runs. A part that is off stays down and its loads fail
// quietly; while any part is on, the mixer runs into the audio device, or into a null output at
// real-time pace when there is none.
void sound_start(const SoundSettings& settings);
// Window thread, after the script threads stopped: CD audio, MIDI and every slot are released
// and the output closed.
void sound_stop();
// Every slot pauses as snd_pause(-1) does, and replays as snd_replay(-1) does: the shell calls
// these when the application loses and regains the focus while GlobalSound is 0.
void sound_pause();
void sound_resume();
// MIDI music, CD audio and the movie pause and replay as midi_pause/cd_pause and their replays do: the shell
// calls these whenever the application loses and regains the focus with GlobalFocus 0.
void music_pause();
void music_resume();
// Back to a fresh process's state (tests).
void reset_sound_state();

// Everything the mixer outputs also goes to a 16-bit stereo WAV file at `host_path`
// (talven --audio-out); set before sound_start.
void capture_output(const std::string& host_path);

}  // namespace talven::sound

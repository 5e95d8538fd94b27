// Sound and media: the 64 sound slots and their mixer (MIDI music, CD audio and movies are not
// built yet). What the other modules and the shell may use of this module.
#pragma once
#include <string>

#include "vm/call_gate.h"

namespace talven::sound {

// This module's built-ins, by table index; the shell assembles the table from every module's.
vm::BuiltinSpan builtins();

// Window thread, before any script runs. With `direct_sound` off the sound system stays down and
// every load fails quietly; with it on the mixer runs into the audio device, or into a null output
// at real-time pace when there is none.
void sound_start(bool direct_sound);
// Window thread, after the script threads stopped: every slot is freed and the output closed.
void sound_stop();
// Every slot pauses as snd_pause(-1) does, and replays as snd_replay(-1) does: the shell calls
// these when the application loses and regains the focus while GlobalSound is 0.
void sound_pause();
void sound_resume();
// Back to a fresh process's state (tests).
void reset_sound_state();

// Everything the mixer outputs also goes to a 16-bit stereo WAV file at `host_path`
// (talven --audio-out); set before sound_start.
void capture_output(const std::string& host_path);

}  // namespace talven::sound

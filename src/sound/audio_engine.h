// The sound module's one output: the mixer, the device it plays into (or a null output at
// real-time pace when there is none) and the --audio-out capture. Sound slots, MIDI music and CD
// audio all play through it, so there is never a second audio device.
//
// Window thread only: the module opens the engine at start when any of its parts is on and closes
// it at stop after every part has let go of the mixer.
#pragma once
#include <string>

namespace talven::sound {

class Mixer;

// Opens the mixer and its output; a second call keeps what is open. Null when not even the null
// output opens (never expected).
Mixer* open_audio_engine();
void close_audio_engine();
// The open mixer, or null.
Mixer* audio_mixer();

// Where the mix is also written as a WAV file (--audio-out); empty: nowhere. Set before opening.
void set_capture_path(const std::string& host_path);
const std::string& capture_path();

}  // namespace talven::sound

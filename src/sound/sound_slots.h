// The 64 sound slots and what the sound built-ins do with them. Inside the module.
//
// Every function here runs on the window thread (the built-ins are marshalled there), one at a
// time; only the slots' streaming threads run beside them, each touching its own slot under the
// slot's lock.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace talven::sound {

inline constexpr int kSlots = 64;

// The sound slots: up while DirectSound is on and the audio engine is open. Stopping them frees
// every slot; the engine itself is closed by the module.
bool sound_available();
void start_sound_system();
void stop_sound_system();

std::uint32_t slot_load(int slot, const std::string& name, bool stream);
std::uint32_t slot_free(int slot);
std::uint32_t slot_play(int slot, int loop);
std::uint32_t slot_stop(int slot);
std::uint32_t slot_pause(int slot);
std::uint32_t slot_replay(int slot);
std::int32_t slot_set_volume(int slot, int volume);  // slot -1: the master
std::int32_t slot_get_volume(int slot);
std::int32_t slot_set_pan(int slot, int pan);
std::int32_t slot_get_pan(int slot);
std::int32_t slot_set_frequency(int slot, std::int32_t hz);
std::uint32_t slot_get_frequency(int slot);
std::uint32_t slot_is_playing(int slot);
std::uint32_t slot_set_loop(int slot, std::uint32_t ms);
std::uint32_t slot_set_position(int slot, std::uint32_t ms);
std::uint32_t slot_get_position(int slot);
std::uint32_t slot_get_length(int slot);
std::optional<std::string> slot_comment(int slot);
void set_margin(std::uint32_t ms);
// Records effect `index` (0 ... 7, bit 1 << index) of the slot; nullptr clears it. False for a bad
// slot or one without a buffer.
bool slot_set_effect(int slot, int index, const std::array<std::uint32_t, 7>* words);

// The conversions between the scripts' volume (0 ... 100) and pan (-100 ... 100) and the
// platform's hundredths of a decibel, exactly as the engine computes them.
std::int32_t volume_to_hundredths(std::int32_t volume);
std::int32_t hundredths_to_volume(std::int32_t hundredths);
std::int32_t pan_to_hundredths(std::int32_t pan);
std::int32_t hundredths_to_pan(std::int32_t hundredths);
std::int32_t clamp_frequency(std::int32_t hz);

// Every slot pauses as snd_pause(-1) does, and replays as snd_replay(-1) does.
void pause_all_slots();
void replay_all_slots();

// The effects of a voice from the slot's recorded parameters (voice_effects.cpp): checked
// against the ranges at the sound buffer's rate, run at the mixer's.
class VoiceEffects;
std::unique_ptr<VoiceEffects> make_voice_effects(std::uint32_t mask,
                                                 const std::array<std::array<std::uint32_t, 7>, 8>& words,
                                                 int buffer_rate, int mixer_rate);

}  // namespace talven::sound

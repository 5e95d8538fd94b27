// MIDI music and CD audio as a game hears them: small games run headless with --audio-out, the
// MIDI files written here note by note, the CD's tracks as tones of known lengths and pitches.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "game_run_fixture.h"
#include "midi_writer.h"
#include "sound_test_support.h"

namespace talven::sound {
namespace {

constexpr int kQuarter = 480;  // ticks; at the default 120 bpm a quarter note lasts 500 ms
constexpr std::uint64_t ticks(double seconds) { return static_cast<std::uint64_t>(seconds * 2 * kQuarter + 0.5); }

std::string bytes_of(const test::MidiBytes& b) { return std::string(b.begin(), b.end()); }

// One flute on channel 0 at channel volume 100 (its fundamental stands out of its harmonics).
test::MidiTrack flute() {
  test::MidiTrack t;
  t.tempo(0, 500000).program(0, 0, 73).control(0, 0, 7, 100);
  return t;
}

class MusicOutput : public SoundOutput {
 protected:
  void SetUp() override {
    SoundOutput::SetUp();
    music_config("");
  }
  // MIDI and CD audio on, with the SoundFont `font`; by default the small one when it is
  // installed, so runs start fast.
  void music_config(const std::string& more, std::string font = "") {
    const char* small = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (font.empty() && fs::exists(small)) font = small;
    config("[System]\nDirectMusic=1\n[Drive]\nCD=1\n" + (font.empty() ? "" : "[Talven]\nSoundFont=" + font + "\n") + more);
  }
  void midi(const std::string& name, const test::MidiBytes& bytes) { file(name, bytes_of(bytes)); }
  void track(const std::string& name, const std::string& bytes) {
    fs::create_directories(work_ / "cd");
    file("cd/" + name, bytes);
  }
  double pitch_between(long from_ms, long to_ms) const {
    return test::peak_frequency(heard_, frame_at(from_ms), frame_at(to_ms), rate_, 200, 1200);
  }
  void expect_logged(const std::map<std::string, long>& expected) {
    for (const auto& [name, value] : expected) EXPECT_EQ(logged(name), value) << name;
  }
};

// A held A4 at channel volume 100; midi_setvol(50) halfway, then the file sends volume 100 again.
// The channel-volume curve is 40 log10(v / 127) dB, so halving the volume term quarters the level.
TEST_F(MusicOutput, MidiPlaysItsNotesAndTheMasterVolumeScalesEveryChannelVolume) {
  test::MidiTrack t = flute();
  t.note(0, ticks(4.5), 0, 69, 100).control(ticks(3.0), 0, 7, 100).end(ticks(5.0));
  midi("held.mid", test::midi_file(0, kQuarter, {t}));
  ASSERT_EQ(run("int main() { int r;\n"
                "  setcount(0, 0); r = midi_load(\"held.mid\"); log_out(\"load %d\", r);\n"
                "  log_out(\"start %d\", getcount(0)); midi_play(0);\n"
                "  sleep(1500); midi_setvol(50); log_out(\"half %d\", getcount(0));\n"
                "  r = midi_getvol(); log_out(\"volume %d\", r);\n"
                "  sleep(3800); r = midi_isplay(); log_out(\"playing_after_the_end %d\", r); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  expect_logged({{"load", 1}, {"volume", 50}, {"playing_after_the_end", 0}});
  line_up_at_first_sound(logged("start"));
  const long half = logged("half");
  EXPECT_NEAR(pitch_between(300, 1300), 440.0, 5.0);
  const double full = level(300, 1400);
  EXPECT_GT(full, 0.005) << "the note is heard";
  EXPECT_NEAR(level(half + 200, 2900) / full, 0.25, 0.04) << "the master volume scales the channel volume at once";
  EXPECT_NEAR(level(3200, 4300) / full, 0.25, 0.04) << "a later channel volume of 100 plays as 50";
  EXPECT_LT(level(5200, 5400), full * 0.01) << "silence after the end";
}

// Three notes of a second each (C5, E5, G5). Paused at 0.5 s for a second, the music goes on from
// where it stood: half a second after the replay comes the E5 (the C5 was let go at the pause, as
// a note that began before the point a performance starts from is not struck again).
TEST_F(MusicOutput, MidiPauseAndReplayResumeWhereTheMusicStood) {
  test::MidiTrack t = flute();
  t.note(0, ticks(1.0), 0, 72, 100).note(ticks(1.0), ticks(1.0), 0, 76, 100).note(ticks(2.0), ticks(1.0), 0, 79, 100).end(ticks(3.0));
  midi("three.mid", test::midi_file(0, kQuarter, {t}));
  ASSERT_EQ(run("int main() { int p;\n"
                "  setcount(0, 0); midi_load(\"three.mid\"); log_out(\"start %d\", getcount(0)); midi_play(0);\n"
                "  sleep(500); midi_pause(); log_out(\"paused %d\", getcount(0));\n"
                "  p = midi_isplay(); log_out(\"playing_while_paused %d\", p); p = midi_getpos(); log_out(\"position_while_paused %d\", p);\n"
                "  sleep(1000); midi_replay(); log_out(\"replayed %d\", getcount(0));\n"
                "  sleep(300); p = midi_getpos(); log_out(\"position %d\", p);\n"
                "  sleep(2500); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  expect_logged({{"playing_while_paused", 0}, {"position_while_paused", 0}});
  EXPECT_NEAR(logged("position"), 800, 60);
  line_up_at_first_sound(logged("start"));
  const long replayed = logged("replayed");
  EXPECT_NEAR(pitch_between(100, 450), 523.0, 5.0);
  EXPECT_LT(level(logged("paused") + 150, replayed - 50), 0.002) << "silence while paused";
  EXPECT_NEAR(pitch_between(replayed + 600, replayed + 1400), 659.0, 5.0) << "the E5";
  EXPECT_NEAR(pitch_between(replayed + 1600, replayed + 2400), 784.0, 5.0) << "then the G5";
}

// What scripts read back: failures of bad files, volumes, pause nesting, repeat and positions.
TEST_F(MusicOutput, MidiAnswersScriptsAsTheEngineDoes) {
  test::MidiTrack t = flute();
  t.note(0, ticks(0.5), 0, 69, 100).end(ticks(1.0));
  const test::MidiBytes good = test::midi_file(0, kQuarter, {t});
  midi("one_second.mid", good);
  midi("one_second.rmi", test::rmid_file(good));
  midi("cut.mid", test::MidiBytes(good.begin(), good.begin() + 30));
  test::MidiTrack stalled;
  stalled.tempo(0, 0).note(0, 100, 0, 60, 100).end(200);
  midi("tempo0.mid", test::midi_file(0, kQuarter, {stalled}));
  test::MidiBytes many = good;
  many[10] = 0x7F;  // the header claims 32513 tracks
  many[11] = 0x01;
  many[9] = 1;
  midi("many.mid", many);
  file("garbage.mid", "MThd this is not music at all");
  ASSERT_EQ(run("int main() { int a, b, c, d;\n"
                "  a = midi_getvol(); log_out(\"volume_before_load %d\", a); a = midi_setvol(50); log_out(\"setvol_before_load %d\", a);\n"
                "  a = midi_load(\"missing.mid\"); log_out(\"missing %d\", a);\n"
                "  a = midi_load(\"garbage.mid\"); log_out(\"garbage %d\", a);\n"
                "  a = midi_load(\"cut.mid\"); log_out(\"cut %d\", a);\n"
                "  a = midi_load(\"tempo0.mid\"); log_out(\"tempo0 %d\", a);\n"
                "  a = midi_load(\"many.mid\"); log_out(\"many_tracks %d\", a);\n"
                "  a = midi_play(0); log_out(\"play_nothing %d\", a);\n"
                "  a = midi_load(\"one_second.rmi\"); log_out(\"rmid %d\", a);\n"
                "  a = midi_load(\"one_second.mid\"); log_out(\"load %d\", a); a = midi_getvol(); log_out(\"volume %d\", a);\n"
                "  midi_setvol(150); a = midi_getvol(); log_out(\"volume150 %d\", a);\n"
                "  midi_setvol(-5); a = midi_getvol(); log_out(\"volume_minus5 %d\", a);\n"
                "  midi_load(\"one_second.mid\"); a = midi_getvol(); log_out(\"volume_after_reload %d\", a);\n"
                "  midi_play(0); a = midi_isplay(); log_out(\"playing %d\", a);\n"
                "  midi_pause(); midi_pause(); midi_replay(); a = midi_isplay(); log_out(\"paused_twice_replayed_once %d\", a);\n"
                "  midi_replay(); a = midi_isplay(); log_out(\"replayed_twice %d\", a);\n"
                "  midi_repeat(1); sleep(1400); a = midi_isplay(); log_out(\"repeat_waits_for_the_next_play %d\", a);\n"
                "  midi_play(0); sleep(2500); a = midi_isplay(); b = midi_getpos();\n"
                "  log_out(\"repeating %d\", a); log_out(\"position_within_the_length %d\", b < 1000);\n"
                "  log_out(\"position_after_two_and_a_half_seconds %d\", b);\n"
                "  a = midi_stop(0); b = midi_isplay(); c = midi_getpos(); log_out(\"stop %d\", a); log_out(\"after_stop %d\", b + c);\n"
                "  a = midi_free(); b = midi_isplay(); c = midi_getvol(); d = midi_play(0);\n"
                "  log_out(\"free %d\", a); log_out(\"after_free %d\", b + c); log_out(\"play_after_free %d\", d);\n"
                "  return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  expect_logged({{"volume_before_load", 0}, {"setvol_before_load", 1}, {"missing", 0}, {"garbage", 0}, {"cut", 0},
                 {"tempo0", 0}, {"many_tracks", 0}, {"play_nothing", 1}, {"rmid", 1}, {"load", 1}, {"volume", 100},
                 {"volume150", 100}, {"volume_minus5", 0}, {"volume_after_reload", 100}, {"playing", 1},
                 {"paused_twice_replayed_once", 0}, {"replayed_twice", 1}, {"repeat_waits_for_the_next_play", 0},
                 {"repeating", 1}, {"position_within_the_length", 1}, {"stop", 1}, {"after_stop", 0}, {"free", 1},
                 {"after_free", 0}, {"play_after_free", 1}});
  EXPECT_NEAR(logged("position_after_two_and_a_half_seconds"), 500, 100);
}

// Without a SoundFont music is off: the game runs, loads fail, the player is told once.
TEST_F(MusicOutput, WithoutASoundFontLoadsFailAndTheGameGoesOn) {
  test::MidiTrack t = flute();
  t.note(0, ticks(0.5), 0, 69, 100).end(ticks(1.0));
  midi("one_second.mid", test::midi_file(0, kQuarter, {t}));
  file("broken.sf2", "RIFF\x10\0\0\0sfbkLIST this is no SoundFont");
  for (const std::string font : {"nowhere.sf2", "broken.sf2"}) {
    music_config("", font);
    ASSERT_EQ(run("int main() { int a; a = midi_load(\"one_second.mid\"); log_out(\"load %d\", a);\n"
                  "  a = midi_play(0); log_out(\"play %d\", a); a = midi_isplay(); log_out(\"playing %d\", a); return 0; }\n"),
              0)
        << font;
    expect_logged({{"load", 0}, {"play", 1}, {"playing", 0}});
    const std::string errors = test::read_bytes(work_ / "stderr.txt");
    EXPECT_NE(errors.find(font), std::string::npos) << errors;
  }
}

// ---- CD audio ------------------------------------------------------------------------------------

// A mixed-mode disc: data on track 1, then tones of 3.5, 4.5 and 3.5 seconds (whole seconds 3, 4, 3)
// at 440, 660 and 880 Hz, under the names and formats rips come in.
class VirtualDisc : public MusicOutput {
 protected:
  void SetUp() override {
    MusicOutput::SetUp();
    track("track02.wav", test::wave_file(test::sine(440, 44100, 3.5, 0.5, 2), 44100, 2, 16));
    const std::string ogg = test::ogg_file(test::sine(660, 44100, 4.5, 0.5), 44100, "");
    if (ogg.empty()) GTEST_SKIP() << "oggenc (vorbis-tools) is needed";
    track("Track 03.ogg", ogg);
    track("TRACK_04.WAV", test::wave_file(test::sine(880, 22050, 3.5, 0.5), 22050, 1, 16));
  }
};

TEST_F(VirtualDisc, TheTrackTableComesFromTheFilesAndDataTracksDoNotPlay) {
  ASSERT_EQ(run("int main() { int a, b, c, d, e;\n"
                "  a = cd_getlen(0); b = cd_getlen(1); c = cd_getlen(2); d = cd_getlen(3); e = cd_getlen(4);\n"
                "  log_out(\"lengths %d\", a * 10000 + b * 1000 + c * 100 + d * 10 + e);\n"
                "  a = cd_getlen(5); log_out(\"length_past_the_last %d\", a);\n"
                "  a = cd_play(1, 0); log_out(\"play_data %d\", a); a = cd_play(5, 0); log_out(\"play_past_the_last %d\", a);\n"
                "  a = cd_play(0, 0); log_out(\"play_zero %d\", a); a = cd_isplay(); log_out(\"playing_nothing %d\", a);\n"
                "  cd_setvol(150); a = cd_getvol(); log_out(\"volume150 %d\", a); cd_setvol(-5); a = cd_getvol(); log_out(\"volume_minus5 %d\", a);\n"
                "  cd_setvol(100); a = cd_repeat(3); b = cd_repeat(0); log_out(\"repeat %d\", a * 10 + b);\n"
                "  a = cd_play(2, 0); sleep(100); cd_pause(); cd_pause(); cd_replay(); b = cd_isplay(); cd_replay(); c = cd_isplay();\n"
                "  log_out(\"pause_nesting %d\", a * 100 + b * 10 + c);\n"
                "  a = cd_eject(); b = cd_isplay(); c = cd_getlen(0); d = cd_play(2, 0); log_out(\"eject %d\", a * 1000 + b * 100 + c * 10 + d);\n"
                "  a = cd_eject(); b = cd_getlen(0); c = cd_play(2, 0); log_out(\"close %d\", a * 1000 + b * 10 + c);\n"
                "  return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  expect_logged({{"lengths", 100343}, {"length_past_the_last", 0}, {"play_data", 0}, {"play_past_the_last", 0},
                 {"play_zero", 0}, {"playing_nothing", 0}, {"volume150", 100}, {"volume_minus5", 0}, {"repeat", 3},
                 {"pause_nesting", 101}, {"eject", 1000}, {"close", 1101}});
}

// Repeat mode 2 plays on through the tracks below the highest: 2, then 3, then stops (4 is the
// highest and only cd_play plays it). Positions in the four modes are read along the way.
TEST_F(VirtualDisc, RepeatModeTwoAdvancesToTheNextAudioTrackBelowTheHighest) {
  ASSERT_EQ(run("int main() { int a, b, c, d;\n"
                "  setcount(0, 0); cd_repeat(2); log_out(\"start %d\", getcount(0)); cd_play(2, 0);\n"
                "  sleep(1500); a = cd_getpos(0); b = cd_getpos(1); c = cd_getpos(2); d = cd_getpos(3);\n"
                "  log_out(\"positions_in_2 %d\", a * 1000 + b * 100 + c * 10 + d);\n"
                "  sleep(3000); a = cd_getpos(0); b = cd_getpos(1); c = cd_getpos(2); d = cd_getpos(3);\n"
                "  log_out(\"positions_in_3 %d\", a * 1000 + b * 100 + c * 10 + d);\n"
                "  sleep(3500); a = cd_isplay(); log_out(\"playing_after_3 %d\", a); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  // In track 2 at 1.5 s: 1 s in; 3 - 1 - 2 = 0 left; 1 since the first audio track; 0 + (4 - 2) + (3 - 2) = 3 to the end.
  EXPECT_EQ(logged("positions_in_2"), 1013);
  // In track 3 at 4.5 s (track 2 ended at 3 s): 1 s in; 4 - 1 - 2 = 1 left; 1 + (3 - 2) = 2; 1 + (3 - 2) = 2.
  EXPECT_EQ(logged("positions_in_3"), 1122);
  EXPECT_EQ(logged("playing_after_3"), 0);
  line_up_at_first_sound(logged("start"));
  EXPECT_NEAR(pitch_between(500, 2800), 440.0, 2.0);
  EXPECT_NEAR(pitch_between(3300, 6800), 660.0, 2.0);
  EXPECT_LT(level(7300, 7900), 0.001) << "nothing after track 3";
}

// Mode 3 from the highest track's neighbour wraps round past the data track; mode 1 repeats.
TEST_F(VirtualDisc, RepeatModesOneAndThreeRepeatAndWrapRound) {
  ASSERT_EQ(run("int main() {\n"
                "  setcount(0, 0); cd_repeat(3); log_out(\"start %d\", getcount(0)); cd_play(3, 0);\n"
                "  sleep(5000); cd_repeat(1); log_out(\"one %d\", getcount(0));\n"
                "  sleep(3500); cd_stop(0); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  line_up_at_first_sound(logged("start"));
  EXPECT_NEAR(pitch_between(300, 3700), 660.0, 2.0) << "track 3";
  EXPECT_NEAR(pitch_between(4300, 6700), 440.0, 2.0) << "wrapped round to track 2, past data track 1";
  EXPECT_NEAR(pitch_between(7300, 8300), 440.0, 2.0) << "mode 1 plays track 2 again";
}

// Fades run in 32 steps of the level; fading out ends in silence and stops the track. cd_setvol
// scales the CD's amplitude.
TEST_F(VirtualDisc, FadesRiseAndFallAndAFadeOutStops) {
  ASSERT_EQ(run("int main() { int a;\n"
                "  setcount(0, 0); log_out(\"start %d\", getcount(0)); cd_play(4, 1600);\n"
                "  sleep(2000); cd_stop(800); log_out(\"fade_out %d\", getcount(0)); a = cd_isplay(); log_out(\"playing_while_fading %d\", a);\n"
                "  sleep(1200); a = cd_isplay(); log_out(\"playing_after_the_fade %d\", a);\n"
                "  cd_setvol(50); cd_play(4, 0); log_out(\"half %d\", getcount(0)); sleep(3300);\n"
                "  a = cd_isplay(); log_out(\"playing_after_the_track %d\", a); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  // Repeat mode 0 (the start's) stops at the end of the track.
  expect_logged({{"playing_while_fading", 1}, {"playing_after_the_fade", 0}, {"playing_after_the_track", 0}});
  const double full = 0.5 / std::sqrt(2.0);
  // The first sound comes with the fade's first step, a 32nd of the fade time after the start.
  line_up_at_first_sound(logged("start") + 1600 / 32);
  const double early = level(100, 300), late = level(1300, 1500), top = level(1700, 1950);
  EXPECT_LT(early, late);
  EXPECT_LT(late, top);
  EXPECT_NEAR(top, full, 0.02);
  const long out = logged("fade_out");
  EXPECT_LT(level(out + 100, out + 300), top);
  EXPECT_LT(level(out + 950, out + 1100), 0.0005);
  const long half = logged("half");
  EXPECT_NEAR(level(half + 200, half + 700), full / 2, 0.02) << "cd_setvol(50) halves the CD channel";
}

// Every format and spelling of a rip is read; files that do not decode count as data tracks, named
// once on stderr; nothing crashes.
TEST_F(MusicOutput, TracksOfEveryFormatAreReadAndBrokenOnesAreDataTracks) {
  track("track01.ogg", "OggS but nothing more");
  track("track02.wav", test::wave_file({}, 44100, 2, 16));
  track("track03.wav", "");
  track("track04.wav", test::wave_file(test::sine(440, 44100, 2.5, 0.5), 44100, 1, 16));
  // FLAC and MP3 from their encoders, when installed: 4.5 and 5.5 seconds.
  const fs::path source = work_ / "source.wav";
  std::ofstream(source, std::ios::binary) << test::wave_file(test::sine(440, 44100, 4.5, 0.5, 2), 44100, 2, 16);
  const bool flac = std::system(("flac -s -f -o '" + (work_ / "cd/track5.flac").string() + "' '" + source.string() + "' 2>/dev/null").c_str()) == 0;
  std::ofstream(source, std::ios::binary) << test::wave_file(test::sine(440, 44100, 5.5, 0.5, 2), 44100, 2, 16);
  const bool mp3 = std::system(("lame --quiet '" + source.string() + "' '" + (work_ / "cd/Track_06.MP3").string() + "' 2>/dev/null").c_str()) == 0;
  ASSERT_EQ(run("int main() { int a, b, c, d;\n"
                "  a = cd_play(1, 0); b = cd_play(2, 0); c = cd_play(3, 0); d = cd_play(4, 0);\n"
                "  log_out(\"plays %d\", a * 1000 + b * 100 + c * 10 + d); a = cd_getlen(4); log_out(\"length %d\", a);\n"
                "  a = cd_getlen(5); log_out(\"flac %d\", a); a = cd_getlen(6); log_out(\"mp3 %d\", a); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  expect_logged({{"plays", 1}, {"length", 2}});
  if (flac) {
    EXPECT_EQ(logged("flac"), 4);
  }
  if (mp3) {
    EXPECT_EQ(logged("mp3"), 5);
  }
  const std::string errors = test::read_bytes(work_ / "stderr.txt");
  for (const char* name : {"track01.ogg", "track02.wav", "track03.wav"}) EXPECT_NE(errors.find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace talven::sound

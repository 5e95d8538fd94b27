// What a game hears: small games run headless through the real executable with --audio-out, and
// the captured output measured (level, pitch, silence), with the scripts' own answers in the log.
// The sounds are made here: tones and noise as wave files, Ogg files through oggenc.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "game_run_fixture.h"
#include "sound_test_support.h"

namespace fs = std::filesystem;

namespace talven::sound {
namespace {

// The script plays a 1 kHz tone through phases of its volume, pan and frequency, and logs when
// each began (getcount runs on the clock the sound output keeps time with).
TEST_F(SoundOutput, VolumePanAndFrequencyAreHeardAsTheyAreSet) {
  file("tone.wav", test::wave_file(test::sine(1000, 22050, 1.0, 0.5), 22050, 1, 16));
  ASSERT_EQ(run("int phase(char *name, int ms) { log_out(\"%s %d\", name, getcount(0)); sleep(ms); return 0; }\n"
                "int main() {\n"
                "  setcount(0, 0); snd_load(0, \"tone.wav\"); log_out(\"start %d\", getcount(0)); snd_play(0, 1);\n"
                "  phase(\"full\", 600);\n"
                "  snd_setvol(0, 50); phase(\"half\", 600);\n"
                "  snd_setvol(0, 100); snd_setpan(0, 100); phase(\"right\", 600);\n"
                "  snd_setpan(0, -100); phase(\"left\", 600);\n"
                "  snd_setpan(0, 0); snd_setfreq(0, 11025); phase(\"octave\", 600);\n"
                "  snd_setfreq(0, 0); snd_setvol(-1, 0); phase(\"master\", 600);\n"
                "  log_out(\"end %d\", getcount(0)); return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  ASSERT_EQ(rate_, 48000);
  line_up_at_first_sound(logged("start"));
  const double full = 0.5 / std::sqrt(2.0);
  auto middle = [&](const char* phase, auto measure) {
    const long at = logged(phase);
    return measure(at + 150, at + 450);
  };
  EXPECT_NEAR(middle("full", [&](long a, long b) { return level(a, b); }), full, 0.02);
  EXPECT_NEAR(middle("full", [&](long a, long b) { return pitch(a, b); }), 1000.0, 10.0);
  // Volume 50 is -10 dB.
  EXPECT_NEAR(middle("half", [&](long a, long b) { return level(a, b); }), full * 0.3162, 0.01);
  EXPECT_NEAR(middle("right", [&](long a, long b) { return level(a, b, 1); }), full, 0.02);
  EXPECT_LT(middle("right", [&](long a, long b) { return level(a, b, 0); }), 0.001);
  EXPECT_NEAR(middle("left", [&](long a, long b) { return level(a, b, 0); }), full, 0.02);
  EXPECT_LT(middle("left", [&](long a, long b) { return level(a, b, 1); }), 0.001);
  EXPECT_NEAR(middle("octave", [&](long a, long b) { return pitch(a, b); }), 500.0, 10.0);
  EXPECT_LT(middle("master", [&](long a, long b) { return level(a, b); }), 0.0005);
}

// What scripts read back: conversions, pause nesting, positions, texts, lengths and failures.
TEST_F(SoundOutput, TheSlotsAnswerScriptsAsTheEngineDoes) {
  const std::string ogg = test::ogg_file(test::sine(440, 44100, 2.5, 0.5), 44100, "Title");
  if (ogg.empty()) GTEST_SKIP() << "oggenc (vorbis-tools) is needed";
  file("music.ogg", ogg);
  file("tone.wav", test::wave_file(test::sine(1000, 22050, 1.0, 0.5, 2), 22050, 2, 8));
  file("short.wav", test::wave_file(test::sine(500, 11025, 0.2, 0.5), 11025, 1, 16));
  std::string not_pcm = test::wave_file(test::sine(500, 11025, 0.2, 0.5), 11025, 1, 16);
  not_pcm[20] = 3;
  file("float.wav", not_pcm);
  file("cut.wav", test::wave_file(test::sine(500, 11025, 0.2, 0.5), 11025, 1, 16).substr(0, 30));
  ASSERT_EQ(run("int main() { char text[300]; int i, n, t;\n"
                "  log_out(\"load %d\", snd_load(1, \"tone.wav\"));\n"
                "  log_out(\"length %d\", snd_getlen(1));\n"
                "  log_out(\"frequency %d\", snd_getfreq(1));\n"
                "  snd_setvol(1, 50); log_out(\"volume %d\", snd_getvol(1));\n"
                "  snd_setvol(1, 150); log_out(\"volume150 %d\", snd_getvol(1));\n"
                "  snd_setpan(1, -100); log_out(\"pan %d\", snd_getpan(1));\n"
                "  snd_setfreq(1, 50); log_out(\"frequency50 %d\", snd_getfreq(1));\n"
                "  snd_setfreq(1, 250000); log_out(\"frequency250000 %d\", snd_getfreq(1));\n"
                "  snd_setfreq(1, 0);\n"
                "  snd_play(1, 1); snd_pause(1); snd_pause(1); snd_replay(1);\n"
                "  log_out(\"paused_twice_replayed_once %d\", snd_isplay(1));\n"
                "  snd_replay(1); log_out(\"replayed_twice %d\", snd_isplay(1));\n"
                "  snd_stop(1); snd_pause(1); snd_replay(1); log_out(\"pause_of_stopped %d\", snd_isplay(1));\n"
                "  log_out(\"gettext_wave %d\", snd_gettext(1, text));\n"
                "  log_out(\"stream %d\", snd_loads(2, \"music.ogg\"));\n"
                "  log_out(\"stream_length %d\", snd_getlen(2));\n"
                "  log_out(\"gettext_ogg %d\", snd_gettext(2, text)); log_out(\"comment %s\", text);\n"
                "  log_out(\"setpos_stopped %d\", snd_setpos(2, 500));\n"
                "  snd_play(2, 0);\n"
                "  log_out(\"setpos_playing %d\", snd_setpos(2, 100));\n"
                "  sleep(300); n = snd_getpos(2); log_out(\"position_from_500 %d\", n > 650 && n < 1100);\n"
                "  log_out(\"float_wave %d\", snd_load(3, \"float.wav\"));\n"
                "  log_out(\"float_slot_length %d\", snd_getlen(3));\n"
                "  log_out(\"cut_wave %d\", snd_load(3, \"cut.wav\"));\n"
                "  log_out(\"missing %d\", snd_load(3, \"missing.wav\"));\n"
                "  log_out(\"slot64 %d\", snd_load(64, \"tone.wav\"));\n"
                "  log_out(\"short_stream %d\", snd_loads(4, \"short.wav\")); snd_play(4, 0);\n"
                "  t = getcount(0); while (snd_isplay(4) && getcount(0) - t < 5000) sleep(10);\n"
                "  log_out(\"short_stream_ended %d\", !snd_isplay(4));\n"
                "  snd_setmargin(500); snd_load(5, \"short.wav\"); snd_setmargin(0); snd_play(5, 0); sleep(450);\n"
                "  log_out(\"margin_plays_on %d\", snd_isplay(5)); log_out(\"margin_length %d\", snd_getlen(5));\n"
                "  n = 0; for (i = 0; i < 64; i++) n = n + snd_load(i, \"tone.wav\");\n"
                "  for (i = 0; i < 64; i++) snd_play(i, 1);\n"
                "  sleep(100); t = 0; for (i = 0; i < 64; i++) t = t + snd_isplay(i);\n"
                "  log_out(\"sixty_four %d\", n * 100 + t);\n"
                "  log_out(\"free_all %d\", snd_free(-1)); log_out(\"after_free %d\", snd_isplay(0));\n"
                "  return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  const std::map<std::string, long> expected = {
      {"load", 1}, {"length", 1000}, {"frequency", 22050}, {"volume", 50}, {"volume150", 100}, {"pan", -100},
      {"frequency50", 100}, {"frequency250000", 100000}, {"paused_twice_replayed_once", 0}, {"replayed_twice", 1},
      {"pause_of_stopped", 0}, {"gettext_wave", 0}, {"stream", 1}, {"stream_length", 2500}, {"gettext_ogg", 1},
      {"setpos_stopped", 1}, {"setpos_playing", 0}, {"position_from_500", 1}, {"float_wave", 0},
      {"float_slot_length", 0}, {"cut_wave", 0}, {"missing", 0}, {"slot64", 0}, {"short_stream", 1},
      {"short_stream_ended", 1}, {"margin_plays_on", 1}, {"margin_length", 200}, {"sixty_four", 6464}, {"free_all", 1}, {"after_free", 0},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(logged(name), value) << name;
  const std::vector<std::string> lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "comment Title"), lines.end());
}

// A stream of three seconds, a different tone each second, looping from 1000 ms: after the first
// pass it keeps returning to the second tone, and its position stays inside the loop.
TEST_F(SoundOutput, ALoopingStreamReturnsToItsLoopPoint) {
  std::vector<std::int16_t> pcm;
  for (double hz : {400.0, 800.0, 1600.0}) {
    const std::vector<std::int16_t> second = test::sine(hz, 22050, 1.0, 0.5);
    pcm.insert(pcm.end(), second.begin(), second.end());
  }
  file("three.wav", test::wave_file(pcm, 22050, 1, 16));
  ASSERT_EQ(run("int main() { int i, p, outside;\n"
                "  setcount(0, 0); snd_loads(0, \"three.wav\"); log_out(\"loop %d\", snd_setloop(0, 1000));\n"
                "  log_out(\"start %d\", getcount(0)); snd_play(0, 1);\n"
                "  sleep(3500); outside = 0;\n"
                "  for (i = 0; i < 30; i++) { p = snd_getpos(0); if (p < 1000 || p >= 3000) outside++; sleep(100); }\n"
                "  log_out(\"positions_outside_the_loop %d\", outside);\n"
                "  return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  EXPECT_EQ(logged("loop"), 1);
  EXPECT_EQ(logged("positions_outside_the_loop"), 0);
  const long start = logged("start");
  line_up_at_first_sound(start);
  // The first pass, then the loop: 800 Hz at 3.5 s and 5.5 s, 1600 Hz at 4.5 s and 6.5 s.
  const struct {
    long at;
    double hz;
  } expected[] = {{500, 400}, {1500, 800}, {2500, 1600}, {3500, 800}, {4500, 1600}, {5500, 800}, {6500, 1600}};
  for (const auto& e : expected)
    EXPECT_NEAR(pitch(start + e.at - 250, start + e.at + 250), e.hz, e.hz * 0.02) << "at " << e.at << " ms";
}

// Each effect changes the sound in its own way: the echo repeats a click at its delay, the
// distortion adds harmonics to a tone, the parametric equaliser lifts a tone at its centre (played
// 10 dB down, so that the lift does not reach full scale).
TEST_F(SoundOutput, EffectsChangeTheSoundInTheirOwnWays) {
  std::vector<std::int16_t> click(22050, 0);
  for (int i = 0; i < 20; ++i) click[static_cast<std::size_t>(i)] = 26000;
  file("click.wav", test::wave_file(click, 22050, 1, 16));
  // A click of 100 ms, loaded whole, is too short for effects: it keeps no echo.
  file("short_click.wav", test::wave_file(std::vector<std::int16_t>(click.begin(), click.begin() + 2205), 22050, 1, 16));
  file("tone.wav", test::wave_file(test::sine(1000, 22050, 1.0, 0.5), 22050, 1, 16));
  ASSERT_EQ(run("int phase(char *name, int ms) { log_out(\"%s %d\", name, getcount(0)); sleep(ms); return 0; }\n"
                "int main() { DSFXEcho e; DSFXDistortion d; DSFXParamEq q;\n"
                "  setcount(0, 0);\n"
                "  e.wet_dry_mix = 50.0; e.feedback = 0.0; e.left_delay = 250.0; e.right_delay = 250.0; e.pan_delay = 0;\n"
                "  d.gain = 0.0; d.edge = 60.0; d.post_eq_center_frequency = 4000.0; d.post_eq_bandwidth = 8000.0;\n"
                "  d.pre_lowpass_cutoff = 8000.0;\n"
                "  q.center = 1000.0; q.bandwidth = 12.0; q.gain = 12.0;\n"
                "  snd_load(0, \"click.wav\"); log_out(\"echo %d\", snd_setecho(0, &e));\n"
                "  snd_load(1, \"tone.wav\"); snd_setvol(1, 50);\n"
                "  snd_load(2, \"tone.wav\"); snd_setdistortion(2, &d);\n"
                "  snd_load(3, \"tone.wav\"); snd_setvol(3, 50); snd_setparameq(3, &q);\n"
                "  log_out(\"start %d\", getcount(0)); snd_play(0, 0); sleep(800);\n"
                "  snd_play(1, 1); phase(\"plain\", 600); snd_stop(1);\n"
                "  snd_play(2, 1); phase(\"distorted\", 600); snd_stop(2);\n"
                "  snd_play(3, 1); phase(\"lifted\", 600); snd_stop(3);\n"
                "  snd_load(4, \"short_click.wav\"); snd_setecho(4, &e); log_out(\"short %d\", getcount(0)); snd_play(4, 0);\n"
                "  sleep(600);\n"
                "  return 0; }\n"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  EXPECT_EQ(logged("echo"), 1);
  line_up_at_first_sound(logged("start"));
  const long click_at = logged("start");
  EXPECT_LT(level(click_at + 30, click_at + 230), 0.001) << "nothing between the click and its echo";
  EXPECT_GT(level(click_at + 245, click_at + 260), 0.01) << "the echo 250 ms after the click";
  auto window = [&](const char* phase) { return std::pair{frame_at(logged(phase) + 150), frame_at(logged(phase) + 450)}; };
  const auto [plain_from, plain_to] = window("plain");
  const auto [distorted_from, distorted_to] = window("distorted");
  const auto [lifted_from, lifted_to] = window("lifted");
  auto harmonics = [&](int from, int to) {
    return (test::amplitude_at(heard_, from, to, rate_, 2000) + test::amplitude_at(heard_, from, to, rate_, 3000)) /
           test::amplitude_at(heard_, from, to, rate_, 1000);
  };
  EXPECT_LT(harmonics(plain_from, plain_to), 0.01);
  EXPECT_GT(harmonics(distorted_from, distorted_to), 0.05);
  const double lift_db = 20 * std::log10(test::amplitude_at(heard_, lifted_from, lifted_to, rate_, 1000) /
                                          test::amplitude_at(heard_, plain_from, plain_to, rate_, 1000));
  EXPECT_NEAR(lift_db, 12.0, 1.0);
  const long short_at = logged("short");
  EXPECT_GT(level(short_at - 20, short_at + 80), 0.001) << "the short click is heard";
  EXPECT_LT(level(short_at + 150, short_at + 500), 0.0001) << "but it has no echo";
}

// With GlobalFocus and GlobalSound 0 the sound stops while the window is inactive and goes on after.
TEST_F(SoundOutput, SoundsFallSilentWithoutTheFocusWhenGlobalSoundIsOff) {
  config("[Option]\nGlobalFocus=0\nGlobalSound=0\n");
  file("tone.wav", test::wave_file(test::sine(1000, 22050, 1.0, 0.5), 22050, 1, 16));
  file("input.txt", "1000 focus lost\n2000 focus gained\n");
  ASSERT_EQ(run("int main() { setcount(0, 0); snd_load(0, \"tone.wav\"); log_out(\"start %d\", getcount(0));\n"
                "  snd_play(0, 1); sleep(3000); return 0; }\n",
                "--input input.txt"),
            0)
      << test::read_bytes(work_ / "stderr.txt");
  // The replay's times count from the start of the run, as the output's do.
  EXPECT_GT(test::rms(heard_, 600 * rate_ / 1000, 900 * rate_ / 1000), 0.3);
  EXPECT_LT(test::rms(heard_, 1200 * rate_ / 1000, 1800 * rate_ / 1000), 0.001);
  EXPECT_GT(test::rms(heard_, 2300 * rate_ / 1000, 2800 * rate_ / 1000), 0.3);
}

}  // namespace
}  // namespace talven::sound

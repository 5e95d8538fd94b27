/*
 * Makes the demo's sounds as wave files (make-assets.sh turns the music into Ogg Vorbis and puts
 * them all into sounds.bin): a rising blip for a catch, a falling tone for a miss, a burst of
 * noise for a bomb, and eight seconds of music that loops; and the theme as a MIDI file, sixteen
 * seconds of the same chords for a vibraphone, strings, a bass and drums.
 */
#include "talven.h"

#define RATE 22050
#define PI 3.14159265

short samples[RATE * 8];

void put32(unsigned char *p, int v) { p[0] = v; p[1] = v >> 8; p[2] = v >> 16; p[3] = v >> 24; }
void put16(unsigned char *p, int v) { p[0] = v; p[1] = v >> 8; }

/* 16-bit mono at RATE. */
int write_wave(char *name, int count)
{
  unsigned char head[44];
  int f;
  memcpy(head, "RIFF", 4); put32(head + 4, 36 + count * 2); memcpy(head + 8, "WAVEfmt ", 8);
  put32(head + 16, 16); put16(head + 20, 1); put16(head + 22, 1); put32(head + 24, RATE);
  put32(head + 28, RATE * 2); put16(head + 32, 2); put16(head + 34, 16);
  memcpy(head + 36, "data", 4); put32(head + 40, count * 2);
  f = fopen(name, "wb");
  if (!f) { log_out("cannot write %s", name); return 0; }
  fwrite(head, 1, 44, f);
  fwrite(samples, 2, count, f);
  fclose(f);
  log_out("%s: %d ms", name, count * 1000 / RATE);
  return 1;
}

/* A tone whose pitch slides from `from` to `to` Hz over `count` samples, fading out. */
int slide(int count, float from, float to, float loudness)
{
  int i;
  float phase, hz, fade;
  phase = 0.0;
  for (i = 0; i < count; i++) {
    hz = from + (to - from) * i / count;
    phase = phase + 2.0 * PI * hz / RATE;
    if (phase > 2.0 * PI) phase = phase - 2.0 * PI;
    fade = 1.0 - (float)i / count;
    samples[i] = (short)(sin(phase) * fade * loudness * 32767.0);
  }
  return count;
}

int boom(int count)
{
  int i, n;
  float low, fade, v;
  srand(7);
  low = 0.0;
  for (i = 0; i < count; i++) {
    n = rand() % 2001 - 1000;
    low = low + ((float)n / 1000.0 - low) * 0.08;
    fade = 1.0 - (float)i / count;
    v = low * fade * fade * 2.5;
    if (v > 0.9) v = 0.9;
    if (v < -0.9) v = -0.9;
    samples[i] = (short)(v * 32767.0);
  }
  return count;
}

/* Four bars of four beats at 120 beats a minute: C, A minor, F and G, a bass note on every beat
   and an arpeggio of the chord's root, third, fifth and octave in eighths. */
int music()
{
  int roots[4], at, beat, eighth, root, step;
  float hz, pb, pa, env, bass, arp;
  roots[0] = 0; roots[1] = 9; roots[2] = 5; roots[3] = 7;
  pb = 0.0; pa = 0.0;
  for (at = 0; at < RATE * 8; at++) {
    beat = at / (RATE / 2);
    eighth = at / (RATE / 4);
    root = roots[(beat / 4) % 4];
    hz = 65.41 * pow(2.0, (float)root / 12.0);
    pb = pb + 2.0 * PI * hz / RATE;
    if (pb > 2.0 * PI) pb = pb - 2.0 * PI;
    bass = sin(pb) * 0.35;
    step = eighth % 4;
    if (step == 1) { if (root == 9) step = 3; else step = 4; }
    else if (step == 2) step = 7;
    else if (step == 3) step = 12;
    hz = 261.63 * pow(2.0, (float)(root + step) / 12.0);
    pa = pa + 2.0 * PI * hz / RATE;
    if (pa > 2.0 * PI) pa = pa - 2.0 * PI;
    env = 1.0 - (float)(at % (RATE / 4)) / (RATE / 4);
    arp = sin(pa) * env * 0.25;
    samples[at] = (short)((bass + arp) * 32767.0 * 0.8);
  }
  return RATE * 8;
}

/* ---- The MIDI theme ---- */

unsigned char mid[16384];
int mn;
int last_tick;

/* A variable-length number: seven bits a byte, the highest first, every byte but the last flagged. */
void number(int v)
{
  int b[4], n;
  n = 0;
  b[n] = v & 127; n++; v = v >> 7;
  while (v) { b[n] = (v & 127) | 128; n++; v = v >> 7; }
  while (n > 0) { n--; mid[mn] = b[n]; mn++; }
}

/* A channel message at `tick` (events come in time order); `c` < 0 for one data byte. */
void event(int tick, int a, int b, int c)
{
  number(tick - last_tick);
  last_tick = tick;
  mid[mn] = a; mn++;
  mid[mn] = b; mn++;
  if (c >= 0) { mid[mn] = c; mn++; }
}

void put32be(unsigned char *p, int v) { p[0] = v >> 24; p[1] = v >> 16; p[2] = v >> 8; p[3] = v; }

/* Eight bars at 120 beats a minute (480 ticks a beat), by eighth notes: the arpeggio on the
   vibraphone, a bass note every beat, the chord held through the bar on strings, kick and snare on
   the beats and a hi-hat on every eighth. */
int theme(char *name)
{
  int roots[4], arp[4], s, t, root, third, note, f;
  roots[0] = 0; roots[1] = 9; roots[2] = 5; roots[3] = 7;
  memcpy(mid, "MThd", 4); put32be(mid + 4, 6);
  mid[8] = 0; mid[9] = 0; mid[10] = 0; mid[11] = 1; mid[12] = 1; mid[13] = 224;
  memcpy(mid + 14, "MTrk", 4);
  mn = 22; last_tick = 0;
  number(0); mid[mn] = 255; mn++; mid[mn] = 81; mn++; mid[mn] = 3; mn++;
  mid[mn] = 7; mn++; mid[mn] = 161; mn++; mid[mn] = 32; mn++;
  event(0, 192, 11, -1); event(0, 193, 48, -1); event(0, 194, 33, -1);
  event(0, 176, 7, 100); event(0, 177, 7, 60); event(0, 178, 7, 110); event(0, 185, 7, 90);
  for (s = 0; s < 64; s++) {
    t = s * 240;
    root = roots[(s / 8) % 4];
    if (root == 9) third = 3; else third = 4;
    arp[0] = 0; arp[1] = third; arp[2] = 7; arp[3] = 12;
    note = 72 + root + arp[s % 4];
    if (root > 6) note = note - 12;
    if (s % 8 == 0) { event(t, 145, 60 + root, 70); event(t, 145, 60 + root + third, 70); event(t, 145, 67 + root, 70); }
    event(t, 144, note, 90);
    event(t, 153, 42, 50);
    if (s % 2 == 0) {
      event(t, 146, 36 + root, 100);
      if (s % 4 == 0) event(t, 153, 36, 110); else event(t, 153, 38, 100);
    }
    event(t + 200, 128, note, 0);
    event(t + 200, 137, 42, 0);
    if (s % 2 == 0) { if (s % 4 == 0) event(t + 200, 137, 36, 0); else event(t + 200, 137, 38, 0); }
    if (s % 2 == 1) event(t + 220, 130, 36 + root, 0);
    if (s % 8 == 7) { event(t + 220, 129, 60 + root, 0); event(t + 220, 129, 60 + root + third, 0); event(t + 220, 129, 67 + root, 0); }
  }
  number(15360 - last_tick); mid[mn] = 255; mn++; mid[mn] = 47; mn++; mid[mn] = 0; mn++;
  put32be(mid + 18, mn - 22);
  f = fopen(name, "wb");
  if (!f) { log_out("cannot write %s", name); return 0; }
  fwrite(mid, 1, mn, f);
  fclose(f);
  log_out("%s: %d bytes", name, mn);
  return 1;
}

int main()
{
  int ok;
  ok = write_wave("sounds/catch.wav", slide(RATE * 15 / 100, 880.0, 1760.0, 0.6));
  ok = ok & write_wave("sounds/miss.wav", slide(RATE / 4, 440.0, 220.0, 0.5));
  ok = ok & write_wave("sounds/bomb.wav", boom(RATE / 2));
  ok = ok & write_wave("music.wav", music());
  ok = ok & theme("sounds/theme.mid");
  if (!ok) log_out("the sounds could not be written");
  return 0;
}

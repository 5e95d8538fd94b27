/*
 * Makes the demo's sounds as wave files (make-assets.sh turns the music into Ogg Vorbis and puts
 * them all into sounds.bin): a rising blip for a catch, a falling tone for a miss, a burst of
 * noise for a bomb, and eight seconds of music that loops.
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

int main()
{
  int ok;
  ok = write_wave("sounds/catch.wav", slide(RATE * 15 / 100, 880.0, 1760.0, 0.6));
  ok = ok & write_wave("sounds/miss.wav", slide(RATE / 4, 440.0, 220.0, 0.5));
  ok = ok & write_wave("sounds/bomb.wav", boom(RATE / 2));
  ok = ok & write_wave("music.wav", music());
  if (!ok) log_out("the sounds could not be written");
  return 0;
}

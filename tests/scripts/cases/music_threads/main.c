/* Script threads drive MIDI music and CD audio at once while the synthesiser, the track decoder
   and the fade timer run, and the game exits in the middle of it: nothing may hang or touch freed
   memory. The music is written by the script itself: a MIDI file of a scale, and a CD track of a
   second of square wave (the disc is read again after the track is written, by opening and
   closing the tray). */
#include "talven.h"

extern int running;

void put32(unsigned char *p, int v) { p[0] = v; p[1] = v >> 8; p[2] = v >> 16; p[3] = v >> 24; }
void put16(unsigned char *p, int v) { p[0] = v; p[1] = v >> 8; }
void put32be(unsigned char *p, int v) { p[0] = v >> 24; p[1] = v >> 16; p[2] = v >> 8; p[3] = v; }

int write_track(char *name)
{
  unsigned char *b;
  int f, i, n;
  n = 11025 * 2;
  b = malloc(44 + n);
  memcpy(b, "RIFF", 4); put32(b + 4, 36 + n); memcpy(b + 8, "WAVEfmt ", 8);
  put32(b + 16, 16); put16(b + 20, 1); put16(b + 22, 1); put32(b + 24, 11025); put32(b + 28, 11025);
  put16(b + 32, 1); put16(b + 34, 8); memcpy(b + 36, "data", 4); put32(b + 40, n);
  for (i = 0; i < n; i++) b[44 + i] = (i / 25) & 1 ? 160 : 96;
  f = fopen(name, "wb");
  fwrite(b, 1, 44 + n, f);
  fclose(f);
  free(b);
  return 1;
}

/* Eight notes of a quarter each at 120 bpm, with a channel-volume event before each. */
int write_scale(char *name)
{
  unsigned char b[200];
  int f, i, n, keys[8];
  keys[0] = 60; keys[1] = 62; keys[2] = 64; keys[3] = 65; keys[4] = 67; keys[5] = 69; keys[6] = 71; keys[7] = 72;
  memcpy(b, "MThd", 4); put32be(b + 4, 6); b[8] = 0; b[9] = 0; b[10] = 0; b[11] = 1; b[12] = 0x01; b[13] = 0xE0;
  memcpy(b + 14, "MTrk", 4);
  n = 22;
  b[n++] = 0; b[n++] = 0xC0; b[n++] = 73;
  for (i = 0; i < 8; i++) {
    b[n++] = 0; b[n++] = 0xB0; b[n++] = 7; b[n++] = 60 + i * 8;
    b[n++] = 0; b[n++] = 0x90; b[n++] = keys[i]; b[n++] = 100;
    b[n++] = 0x83; b[n++] = 0x60; b[n++] = 0x80; b[n++] = keys[i]; b[n++] = 0;
  }
  b[n++] = 0; b[n++] = 0xFF; b[n++] = 0x2F; b[n++] = 0;
  put32be(b + 18, n - 22);
  f = fopen(name, "wb");
  fwrite(b, 1, n, f);
  fclose(f);
  return 1;
}

int music(int unused)
{
  int turn;
  turn = 0;
  while (running) {
    if (turn % 40 == 0) { midi_load("scale.mid"); midi_repeat(turn & 1); midi_play(0); }
    midi_setvol(turn % 120);
    midi_getvol();
    midi_getpos();
    midi_isplay();
    if (turn % 7 == 0) { midi_pause(); midi_replay(); }
    if (turn % 11 == 0) { midi_stop(0); midi_play(0); }
    if (turn % 97 == 0) midi_free();
    turn++;
    sleep(2);
  }
  return 0;
}

int disc(int unused)
{
  int turn;
  turn = 0;
  while (running) {
    if (turn % 30 == 0) { cd_repeat(turn / 30 % 4); cd_play(2, turn % 60 == 0 ? 200 : 0); }
    cd_setvol(turn % 101);
    cd_getpos(turn % 4);
    cd_isplay();
    cd_getlen(turn % 3);
    if (turn % 9 == 0) { cd_pause(); cd_replay(); }
    if (turn % 23 == 0) cd_stop(turn & 1 ? 100 : 0);
    if (turn % 71 == 0) { cd_eject(); cd_eject(); }
    turn++;
    sleep(2);
  }
  return 0;
}

int main()
{
  int a, b;
  write_scale("scale.mid");
  write_track("track02.wav");
  cd_eject(); cd_eject();
  a = cd_getlen(1); b = cd_getlen(2);
  log_out("tracks %d %d", a, b);
  a = midi_load("scale.mid");
  log_out("midi %d", a);
  running = 1;
  thd_begin(music, 0, 0, 0);
  thd_begin(music, 1, 0, 0);
  thd_begin(disc, 0, 0, 0);
  thd_begin(disc, 1, 0, 0);
  log_out("four threads play");
  sleep(2000);
  log_out("exit while they play");
  exit();
  return 0;
}

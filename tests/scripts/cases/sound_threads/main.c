/* Eight script threads call the sound built-ins on their own slots and on all of them while
   streams play, and the game exits in the middle of it: nothing may hang or touch freed memory.
   The sound is a wave file the script writes itself: a second of a square wave at 11025 Hz. */
#include "talven.h"

extern int running;

void put32(unsigned char *p, int v) { p[0] = v; p[1] = v >> 8; p[2] = v >> 16; p[3] = v >> 24; }
void put16(unsigned char *p, int v) { p[0] = v; p[1] = v >> 8; }

int write_wave(char *name)
{
  unsigned char *b;
  int f, i, n;
  n = 11025;
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

int worker(int slot)
{
  int turn;
  turn = 0;
  while (running) {
    if (turn % 50 == 0) { snd_loads(slot, "square.wav"); snd_setloop(slot, 250); snd_play(slot, 1); }
    snd_setvol(slot, turn % 100);
    snd_setpan(slot, turn % 200 - 100);
    snd_setfreq(slot, 8000 + turn * 37 % 20000);
    snd_getpos(slot);
    snd_isplay(slot);
    if (turn % 7 == 0) { snd_pause(-1); snd_replay(-1); }
    if (turn % 11 == 0) { snd_stop(slot); snd_play(slot, turn & 1); }
    if (turn % 13 == 0) snd_load(slot + 8, "square.wav");
    if (turn % 17 == 0) snd_free(slot + 8);
    turn++;
    sleep(1);
  }
  return 0;
}

int main()
{
  int i;
  write_wave("square.wav");
  running = 1;
  for (i = 0; i < 8; i++) thd_begin(worker, i, 0, 0);
  log_out("eight threads play");
  sleep(1500);
  log_out("exit while they play");
  exit();
  return 0;
}

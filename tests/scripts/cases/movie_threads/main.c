/* Script threads drive the movie player while its decoder thread, its sound in the mixer and the
   presentation run, and the game exits in the middle of it: nothing may hang or touch freed
   memory. The movie is two seconds of a blue square with a tone. */
#include "talven.h"

extern int running;

int player(int id)
{
  int turn, r[4];
  turn = 0;
  while (running) {
    if (turn % 25 == 0) { media_open("game\\clip.mp4"); media_repeat(turn & 1); media_play(); }
    r[0] = turn % 50; r[1] = 10; r[2] = 200 + turn % 100; r[3] = 150;
    if (turn % 5 == 0) media_size(r);
    if (turn % 9 == 0) media_size(0);
    media_setvol(turn % 120);
    media_isplay();
    if (turn % 7 == 0) { media_pause(); media_replay(); }
    if (turn % 31 == 0) media_stop();
    if (turn % 43 == 0) media_close();
    turn++;
    sleep(3);
  }
  return 0;
}

int main()
{
  int a;
  a = media_open("game\\clip.mp4");
  log_out("open %d", a);
  media_close();
  running = 1;
  thd_begin(player, 0, 0, 0);
  thd_begin(player, 1, 0, 0);
  log_out("two threads play");
  sleep(2000);
  log_out("exit while they play");
  exit();
  return 0;
}

#include "talven.h"
/* Bystander threads call built-ins without a pause while the main thread uses every built-in that
   waits (thd_end, sleep, calls carried out by the window thread) or that changes which context the
   result goes to (call, longjmp). Every call's result must reach its own caller. */
extern int stop_bystanders;
extern int wrong[4];
extern int rounds[4];
extern int peer[2];
extern int ended_peer[2];

int bystander(int n)
{
  int r;
  while (!stop_bystanders) {
    r = strlen("abc");            /* yield flag 0 */
    if (r != 3) wrong[n]++;
    r = abs(-n - 5);              /* yield flag 0 */
    if (r != n + 5) wrong[n]++;
    r = sleep(0);                 /* yield flag 1 */
    if (r != 1) wrong[n]++;
    rounds[n]++;
  }
  return 0;
}

int idle(int n) { for (;;) sleep(1); return 0; }

/* Two threads end each other: one of them waits, the other must not wait for the waiter. */
int ender(int n)
{
  while (peer[1 - n] < 0) sleep(0);
  ended_peer[n] = thd_end(peer[1 - n]);
  for (;;) sleep(1);
  return 0;
}

int main()
{
  int i, r, s, bad_end, bad_sleep, bad_call, bad_longjmp, bad_marshalled, slices;
  JMPBUF jb;

  for (i = 0; i < 4; i++) thd_begin(bystander, i, 0, 0);
  while (rounds[0] == 0 || rounds[1] == 0 || rounds[2] == 0 || rounds[3] == 0) sleep(1);

  bad_end = 0;
  for (i = 0; i < 200; i++) {
    s = thd_begin(idle, 0, 0, 0);
    r = thd_end(s);
    if (r != 1) bad_end++;
  }
  log_out("thd_end results other than 1: %d", bad_end);

  bad_sleep = 0;
  for (i = 0; i < 50; i++)
    if (sleep(1) != 1) bad_sleep++;
  log_out("sleep results other than 1: %d", bad_sleep);

  bad_call = 0;
  for (i = 0; i < 20; i++)
    if (call("child.c") != 7) bad_call++;
  log_out("call results other than 7: %d", bad_call);

  bad_longjmp = 0;
  for (i = 0; i < 50; i++) {
    r = setjmp(&jb);
    if (r == 0) longjmp(&jb, i + 2);
    else if (r != i + 2) bad_longjmp++;
  }
  log_out("longjmp results other than the value: %d", bad_longjmp);

  bad_marshalled = 0;
  for (i = 0; i < 50; i++) {
    if (caption("contention") != 1) bad_marshalled++;
    if (setsystem("fullscreen", (i & 1) == 0) != 1) bad_marshalled++;
  }
  log_out("window-thread results other than 1: %d", bad_marshalled);

  peer[0] = -1;
  peer[1] = -1;
  peer[0] = thd_begin(ender, 0, 0, 0);
  peer[1] = thd_begin(ender, 1, 0, 0);
  while (ended_peer[0] + ended_peer[1] == 0) sleep(1);
  sleep(20);
  log_out("threads ending each other: one waited %d", ended_peer[0] + ended_peer[1]);
  thd_end(peer[0]);
  thd_end(peer[1]);

  stop_bystanders = 1;
  sleep(20);
  log_out("bystander results wrong: %d %d %d %d", wrong[0], wrong[1], wrong[2], wrong[3]);
  return 0;
}

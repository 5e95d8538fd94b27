/* getpoint keeps, per script thread, what it last saw: each thread sees a press, a double click
   and the wheel once, whatever the other thread does. The two threads note what they saw and the
   main thread tells it once both are done, so the log does not depend on their order. */
#include "talven.h"
extern int done;
extern int press_seen[3], press_again[3], press_x[3], press_y[3], double_with_press[3], wheel_total[3], last_x[3], last_y[3];

int watch(int n)
{
  POINTER p;
  int stage;
  stage = 0;
  for (;;) {
    getpoint(&p);
    wheel_total[n] = wheel_total[n] + p.wheel;
    last_x[n] = p.x; last_y[n] = p.y;
    if (stage == 0 && (p.flags & 0x10000)) {
      press_seen[n] = 1; press_x[n] = p.x; press_y[n] = p.y;
      getpoint(&p);
      wheel_total[n] = wheel_total[n] + p.wheel;
      press_again[n] = (p.flags & 0x10000) != 0;
      stage = 1;
    } else if (stage == 1 && (p.flags & 0x1000000)) {
      double_with_press[n] = (p.flags & 0x1010000) == 0x1010000;
      stage = 2;
    }
    if (done) break;
    sleep(3);
  }
  getpoint(&p);
  wheel_total[n] = wheel_total[n] + p.wheel;
  done = done + 1;
  return 0;
}

int main()
{
  unsigned char keys[256];
  int n;
  thd_begin(watch, 1, 0, 0);
  thd_begin(watch, 2, 0, 0);
  while (!(getkey(keys) && (keys[0x1B] & 0x80))) sleep(5);
  done = 1;
  while (done < 3) sleep(5);
  for (n = 1; n <= 2; n++) {
    log_out("thread %d: press seen %d at %d,%d; seen again by a second call %d", n, press_seen[n], press_x[n], press_y[n], press_again[n]);
    log_out("thread %d: double click seen with its press %d; wheel %d; last point %d,%d", n, double_with_press[n], wheel_total[n], last_x[n], last_y[n]);
  }
  getpoint(0);
  exit();
  return 0;
}

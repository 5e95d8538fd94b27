/*
 * The Talven demo. Three threads compute side by side while the main thread keeps time, a note is
 * written to a file and read back, and a run counter is kept in the configuration file; then a
 * title picture and sprites read from PNG files in the archive pictures.bin (drawn by the engine,
 * see make-assets.sh) move over an 8-bit picture whose palette turns: rotation, scaling and alpha
 * blits, every frame. The demo closes itself after [Demo] Seconds (45 unless set); its lines go to
 * the debug output (talven --log - games/demo).
 */
#include "talven.h"

extern int results[4];
extern int finished;

int count_primes(int limit)
{
  int n, d, count, prime;
  count = 0;
  for (n = 2; n < limit; n++) {
    prime = 1;
    for (d = 2; d * d <= n; d++)
      if (n % d == 0) { prime = 0; break; }
    count = count + prime;
  }
  return count;
}

int fib(int n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }

int collatz_longest(int limit)
{
  int n, best, steps, x;
  best = 0;
  for (n = 1; n < limit; n++) {
    steps = 0;
    x = n;
    while (x != 1) {
      if (x & 1) x = 3 * x + 1; else x = x / 2;
      steps++;
    }
    if (steps > best) best = steps;
  }
  return best;
}

int worker(int job)
{
  if (job == 1) results[1] = count_primes(30000);
  if (job == 2) results[2] = fib(24);
  if (job == 3) results[3] = collatz_longest(20000);
  log_out("  worker %d done after %d ms", job, getcount(0));
  finished++;
  return 0;
}

#define RINGS 1
#define TITLE 2
#define STAR 3
#define BALLS 4
#define BACK 8

/* sin(a / 2048 of a turn) * 1024, by a parabola on each half turn: close enough for motion. */
int sine(int a)
{
  a = a & 2047;
  if (a >= 1024) return -((a - 1024) * (2048 - a) / 256);
  return a * (1024 - a) / 256;
}

int load_pictures()
{
  int ok;
  ok = gload(RINGS, "pictures/rings.png");
  ok = ok & gload(TITLE, "pictures/title.png");
  ok = ok & gload(STAR, "pictures/star.png");
  ok = ok & gload(BALLS, "pictures/ball-red.png");
  ok = ok & gload(BALLS + 1, "pictures/ball-green.png");
  ok = ok & gload(BALLS + 2, "pictures/ball-blue.png");
  return ok;
}

int animate(int seconds)
{
  RECT r;
  BLITMODE copy, alpha, fade;
  int colours[256], turned[256];
  int frame, t, i, n, size, x, y, cx, cy, w, h, shift, next_report;

  if (!load_pictures()) { log_out("the pictures could not be read"); return 0; }
  log_out("pictures read from pictures.bin: rings %d-bit, title %d-bit", 8, 32);
  ggetpal(RINGS, 0, 256, colours);
  galloc(BACK, 640, 480, 32);
  copy.mode = BLIT_COPY; copy.operation = 0; copy.opacity = 255; copy.parameter = 0; copy.key = 0; copy.colour = 0;
  alpha.mode = BLIT_ALPHA; alpha.operation = 0; alpha.opacity = 255; alpha.parameter = 0; alpha.key = 0; alpha.colour = 0;
  fade.mode = BLIT_ALPHA; fade.operation = 0; fade.opacity = 0; fade.parameter = 0; fade.key = 0; fade.colour = 0;

  setcount(1, 0);
  frame = 0;
  next_report = 5000;
  while ((t = getcount(1)) < seconds * 1000) {
    /* The palette of the 8-bit picture turns; it is shown rotating slowly, larger than the screen. */
    shift = t / 20;
    for (i = 0; i < 256; i++) turned[i] = colours[(i + shift) & 255];
    gsetpal(RINGS, 0, 256, turned);
    /* Large enough that the turned picture covers the screen at every angle. */
    size = 1150 + sine(t / 8) / 16;
    r.left = 320 - size / 2; r.right = 320 + size / 2;
    r.top = 240 - size * 3 / 8; r.bottom = 240 + size * 3 / 8;
    gblita(0, &r, RINGS, 0, &copy, t / 24);

    /* Twelve stars drift and twinkle. */
    for (i = 0; i < 12; i++) {
      x = (i * 151 + t / (6 + i % 5)) % 680 - 20;
      y = (i * 97 + i * i * 13) % 480;
      fade.opacity = 128 + sine(t / 3 + i * 300) / 9;
      n = 12 + (sine(t / 2 + i * 170) + 1024) / 90;
      r.left = x - n; r.top = y - n; r.right = x + n; r.bottom = y + n;
      gblita(0, &r, STAR, 0, &fade, t / 5 + i * 100);
    }

    /* Three balls circle the middle, each turning and breathing. */
    for (i = 0; i < 3; i++) {
      cx = 320 + sine(t / 3 + i * 683 + 512) * 200 / 1024;
      cy = 290 + sine(t / 3 + i * 683) * 120 / 1024;
      n = 28 + (sine(t + i * 400) + 1024) * 14 / 2048;
      r.left = cx - n; r.top = cy - n; r.right = cx + n; r.bottom = cy + n;
      gblita(0, &r, BALLS + i, 0, &alpha, -t / 2 + i * 700);
    }

    /* The title fades in over two seconds and sways. */
    fade.opacity = 255;
    if (t < 2000) fade.opacity = t * 255 / 2000;
    w = 452 + sine(t / 2) * 24 / 1024;
    h = 104 + sine(t / 2) * 6 / 1024;
    cy = 110 + sine(t / 4) * 12 / 1024;
    r.left = 320 - w / 2; r.right = 320 + w / 2; r.top = cy - h / 2; r.bottom = cy + h / 2;
    gblita(0, &r, TITLE, 0, &fade, sine(t / 3) / 40);

    update(0);
    frame++;
    if (t >= next_report) {
      log_out("  %d s", next_report / 1000);
      next_report = next_report + 5000;
    }
    sleep(15);
  }
  log_out("%d frames in %d ms", frame, getcount(1));
  return 1;
}

/* One line on the terminal at start, window or not, so that whoever started the demo knows what it
   is and when it ends. A game made for Windows has no terminal; this one is written for Talven. */
void introduce(int seconds)
{
  int f;
  char text[256];
  f = fopen("/dev/stderr", "wb");
  if (!f) return;
  sprintf(text, "Talven demo: pictures, sprites and script threads at work; it closes itself after %d s. "
          "Its log lines: talven --log - games/demo\n", seconds);
  fputs(text, f);
  fclose(f);
}

int main()
{
  int i, runs, f, seconds;
  char line[80];

  seconds = ini_geti("Demo", "Seconds", 45, 0);
  introduce(seconds);
  runs = ini_geti("Demo", "Runs", 0, 0) + 1;
  ini_seti("Demo", "Runs", runs, 0);
  log_out("Talven demo, run number %d", runs);

  setcount(0, 0);
  for (i = 1; i <= 3; i++) thd_begin(worker, i, 0, 0);
  while (finished < 3) sleep(10);
  log_out("primes below 30000: %d, fib(24): %d, longest Collatz chain below 20000: %d steps",
          results[1], results[2], results[3]);

  f = fopen("demo-notes.txt", "w");
  fputs("Talven wrote this line.\n", f);
  fclose(f);
  f = fopen("demo-notes.txt", "r");
  fgets(line, 80, f);
  fclose(f);
  log_out("read back from demo-notes.txt: %s", line);

  animate(seconds);
  log_out("goodbye");
  exit();
  return 0;
}

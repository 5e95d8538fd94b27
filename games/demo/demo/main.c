/*
 * The Talven demo. Three threads compute side by side while the main thread keeps time, a note is
 * written to a file and read back, and a run counter is kept in the configuration file; then
 * sprites made of PNG pictures from the archive pictures.bin (drawn by the engine, see
 * make-assets.sh) move over a background plane: stars, a turning hub carrying three balls, balls
 * that bounce off each other through hit regions, and the title; text drawn by the engine names the
 * demo and keeps the score and the frame rate. The demo closes itself after [Demo] Seconds (45
 * unless set); its lines go to the debug output (talven --log - games/demo).
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
#define SUBTITLE 10
#define HUD 11
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

#define FREE_BALLS 6

void use_font(int slot, int size, int flags)
{
  FONT f;
  font_get(slot, &f);
  strcpy(f.face, "ＭＳ ゴシック");  /* a Windows face: where it is missing, an installed Japanese Gothic */
  f.size = size;
  f.flags = flags;
  font_set(slot, &f);
  font_use(slot);
}

/* The line under the title: anti-aliased text whose coverage becomes the plane's alpha, so that the
   sprite shows it softly over the picture. */
void draw_subtitle()
{
  galloc(SUBTITLE, 440, 36, 32);
  gclear(SUBTITLE, 0, 0);
  use_font(1, 26, 16);
  gtext(SUBTITLE, 10, 4, 0xFF | 0x80000000, "スプライトとテキストのデモ");
}

/* The bar at the bottom: the score and the frame rate in plain text on an opaque bar. */
void draw_hud(int bounces, int fps, int seconds_left)
{
  gclear(HUD, 0, 0x10141C);
  use_font(2, 16, 0);
  gtextf(HUD, 10, 3, 0xFC, "score %d", bounces);
  gtextf(HUD, 250, 3, 0xB6, "%d s left", seconds_left);
  gtextf(HUD, 560, 3, 0x1F, "%3d fps", fps);
}

/* The moving parts are sprites: layer 0 the stars, layer 1 a turning hub carrying three balls,
   layer 2 balls that bounce off the walls and off each other (hit regions), sorted by height so
   that a lower ball is drawn over a higher one, layer 3 the title. sp_draw repaints only what
   moved, from the background plane. */
int animate(int seconds)
{
  RECT r;
  BLITMODE alpha, fade, copy;
  SPRITE *stars[12], *hub, *ring[3], *balls[FREE_BALLS], *title, *subtitle, *hud;
  HITREGION *regions[FREE_BALLS], *hit;
  int vx[FREE_BALLS], vy[FREE_BALLS];
  int colours[256];
  int frame, t, i, j, n, next_report, bounces, next_hud, hud_frames;

  if (!load_pictures()) { log_out("the pictures could not be read"); return 0; }
  log_out("pictures read from pictures.bin: rings %d-bit, title %d-bit", 8, 32);
  ggetpal(RINGS, 0, 256, colours);
  alpha.mode = BLIT_ALPHA; alpha.operation = 0; alpha.opacity = 255; alpha.parameter = 0; alpha.key = 0; alpha.colour = 0;
  fade.mode = BLIT_ALPHA; fade.operation = 0; fade.opacity = 255; fade.parameter = 0; fade.key = 0; fade.colour = 0;

  /* The background: the rings picture turned and enlarged once into a plane of the screen's size. */
  galloc(BACK, 640, 480, 32);
  r.left = -255; r.right = 895; r.top = -191; r.bottom = 671;
  alpha.mode = BLIT_COPY;
  gblita(BACK, &r, RINGS, 0, &alpha, 100);
  alpha.mode = BLIT_ALPHA;
  sp_init(-1);
  hit_init(-1);
  sp_setbg(BACK);

  for (i = 0; i < 12; i++) {
    stars[i] = sp_set(0, 2, (i * 151) % 640, (i * 97 + i * i * 13) % 480, STAR, 0, &fade);
    stars[i]->pivot_x = 8; stars[i]->pivot_y = 8;
  }
  /* The hub turns; its three balls sit on a circle around it and turn with it. A child's offset and
     scale are in its parent's terms: at the hub's scale of 3 they sit 135 pixels out and are drawn
     at 0x3000 * 3, a little over half their 64 pixels. */
  hub = sp_set(1, 2, 320, 290, STAR, 0, &alpha);
  hub->pivot_x = 8; hub->pivot_y = 8;
  hub->scale_x = 0x30000; hub->scale_y = 0x30000;
  for (i = 0; i < 3; i++) {
    ring[i] = sp_set(1, 2, sine(i * 683 + 512) * 45 / 1024, sine(i * 683) * 45 / 1024, BALLS + i, 0, &alpha);
    ring[i]->pivot_x = 32; ring[i]->pivot_y = 32;
    ring[i]->scale_x = 0x3000; ring[i]->scale_y = 0x3000;
    sp_link(hub, ring[i]);
  }
  for (i = 0; i < FREE_BALLS; i++) {
    balls[i] = sp_set(2, 2, 60 + i * 95, 200 + (i % 3) * 70, BALLS + i % 3, 0, &alpha);
    balls[i]->pivot_x = 32; balls[i]->pivot_y = 32;
    balls[i]->scale_x = 0x8000; balls[i]->scale_y = 0x8000;
    vx[i] = 2 + i % 3; vy[i] = 3 - i % 4;
    if (vy[i] == 0) vy[i] = 2;
    /* The region is the ball's square on screen: 32 x 32 around its centre (pivot 32 of 64 at half size). */
    r.left = 16; r.top = 16; r.right = 48; r.bottom = 48;
    regions[i] = hit_set(0, 1, balls[i], &r, i);
  }
  title = sp_set(3, 2, 320, 110, TITLE, 0, &fade);
  title->pivot_x = 226; title->pivot_y = 52;
  draw_subtitle();
  subtitle = sp_set(3, 2, 320, 182, SUBTITLE, 0, &fade);
  subtitle->pivot_x = 220; subtitle->pivot_y = 18;
  copy.mode = BLIT_COPY; copy.operation = 0; copy.opacity = 255; copy.parameter = 0; copy.key = 0; copy.colour = 0;
  galloc(HUD, 640, 22, 32);
  draw_hud(0, 0, seconds);
  hud = sp_set(3, 2, 0, 458, HUD, 0, &copy);

  setcount(1, 0);
  frame = 0;
  bounces = 0;
  next_report = 5000;
  next_hud = 500;
  hud_frames = 0;
  while ((t = getcount(1)) < seconds * 1000) {
    for (i = 0; i < 12; i++) {
      stars[i]->x = (i * 151 + t / (6 + i % 5)) % 680 - 20;
      stars[i]->mode.opacity = 128 + sine(t / 3 + i * 300) / 9;
      n = 0x8000 + (sine(t / 2 + i * 170) + 1024) * 24;
      stars[i]->scale_x = n; stars[i]->scale_y = n;
      stars[i]->angle = t / 5 + i * 100;
      stars[i]->flags = stars[i]->flags | 1;
    }
    hub->angle = t / 3;
    hub->flags = hub->flags | 1;

    for (i = 0; i < FREE_BALLS; i++) {
      balls[i]->x = balls[i]->x + vx[i];
      balls[i]->y = balls[i]->y + vy[i];
      if (balls[i]->x < 16 || balls[i]->x > 624) vx[i] = -vx[i];
      if (balls[i]->y < 150 || balls[i]->y > 464) vy[i] = -vy[i];
      hit = hit_check(regions[i]);
      if (hit) {
        /* Two balls meet: they exchange their speeds and step apart. */
        j = hit->value;
        n = vx[i]; vx[i] = vx[j]; vx[j] = n;
        n = vy[i]; vy[i] = vy[j]; vy[j] = n;
        balls[i]->x = balls[i]->x + vx[i]; balls[i]->y = balls[i]->y + vy[i];
        balls[j]->x = balls[j]->x + vx[j]; balls[j]->y = balls[j]->y + vy[j];
        balls[j]->flags = balls[j]->flags | 1;
        bounces++;
      }
      balls[i]->angle = balls[i]->angle + vx[i] * 8;
      balls[i]->flags = balls[i]->flags | 1;
    }
    sp_sort(4, 1);

    fade.opacity = 255;
    if (t < 2000) fade.opacity = t * 255 / 2000;
    title->mode.opacity = fade.opacity;
    title->scale_x = 0x10000 + sine(t / 2) * 3;
    title->scale_y = 0x10000 + sine(t / 2) * 3;
    title->y = 110 + sine(t / 4) * 12 / 1024;
    title->angle = sine(t / 3) / 40;
    title->flags = title->flags | 1;
    subtitle->mode.opacity = fade.opacity;
    subtitle->flags = subtitle->flags | 1;
    if (t >= next_hud) {
      draw_hud(bounces, (frame - hud_frames) * 2, seconds - t / 1000);
      hud->flags = hud->flags | 1;
      hud_frames = frame;
      next_hud = next_hud + 500;
    }

    sp_draw(-1, &r);
    update(&r);
    frame++;
    if (t >= next_report) {
      log_out("  %d s", next_report / 1000);
      next_report = next_report + 5000;
    }
    sleep(15);
  }
  log_out("%d frames in %d ms, %d sprites, the balls met %d times", frame, getcount(1), getsystem("sp_count"), bounces);
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

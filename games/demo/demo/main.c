/*
 * The Talven demo, and a small game in it. Three threads compute side by side while the main
 * thread runs the title screen, a note is written to a file and read back, and a run counter is
 * kept in the configuration file. The title screen: sprites made of PNG pictures from the archive
 * pictures.bin (drawn by the engine, see make-assets.sh) move over a background plane (stars, a
 * turning hub carrying three balls, balls that bounce off each other through hit regions, the
 * title) and text drawn by the engine names the demo, says how to play and keeps a score bar.
 *
 * Space, Enter, a click or a pad button starts a round: a basket at the bottom moves between five
 * lanes (arrow keys, the mouse or a pad) to catch the balls that fall and to let the bombs pass.
 * Escape quits from anywhere. Without any input the title screen closes itself after [Demo]
 * Seconds (45 unless set). Its lines go to the debug output (talven --log - games/demo).
 *
 * The game is made to play the same every time for the same input, however the frames fall: each
 * round seeds the random numbers with its number, things are dropped on a fixed schedule measured
 * from the round's start, their positions are computed from the time, and whether one is caught
 * is decided once, at the moment it reaches the basket's row, by the lane the basket is in.
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

/* Planes. */
#define RINGS 1
#define TITLE 2
#define STAR 3
#define BALLS 4      /* 4, 5, 6: the red, green and blue balls */
#define BACK 8
#define SUBTITLE 10
#define HUD 11
#define HELP 12
#define BASKET 13
#define BOMB 14
#define PANEL 15
#define FIELD 16     /* the background of the rounds: the title's, darker, with the lanes marked */

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

/* A line of plain text centred on a plane `width` wide; the face is fixed-pitch, half-width
   characters half the size wide. */
void centred(int plane, int width, int y, int size, int flags, int colour, char *text)
{
  use_font(5, size, flags);
  gtext(plane, (width - strlen(text) * size / 2) / 2, y, colour, text);
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

/* How to play, on a dark bar above the score bar of the title screen. */
void draw_help()
{
  galloc(HELP, 640, 24, 32);
  gclear(HELP, 0, 0x101820);
  centred(HELP, 640, 4, 14, 0, 0xFC, "Space, Enter, a click or a pad button: play ― arrows, mouse or pad move ― Esc: quit");
}

/* The bar at the bottom of the title screen: the score and the frame rate in plain text on an
   opaque bar. */
void draw_hud(int bounces, int fps, int seconds_left)
{
  gclear(HUD, 0, 0x10141C);
  use_font(2, 16, 0);
  gtextf(HUD, 10, 3, 0xFC, "score %d", bounces);
  gtextf(HUD, 250, 3, 0xB6, "%d s left", seconds_left);
  gtextf(HUD, 560, 3, 0x1F, "%3d fps", fps);
}

/* The same bar during a round. */
void draw_play_hud(int score, int lives, int seconds_left, int fps)
{
  char hearts[16];
  int i;
  gclear(HUD, 0, 0x10141C);
  use_font(2, 16, 0);
  gtextf(HUD, 10, 3, 0xFC, "score %d", score);
  strcpy(hearts, "-");
  if (lives > 0) hearts[0] = 0;
  for (i = 0; i < lives; i++) strcat(hearts, "●");
  gtextf(HUD, 170, 3, 0xE0, "lives %s", hearts);
  gtextf(HUD, 340, 3, 0xB6, "%d s left", seconds_left);
  gtextf(HUD, 560, 3, 0x1F, "%3d fps", fps);
}

/* ---- Input -------------------------------------------------------------------------------- */

/* The keyboard table is numbered by DirectInput scan codes or by virtual-key codes, as the game's
   [System] DirectInput says. */
int direct_input;
int key_left, key_right, key_space, key_return, key_escape;
unsigned char keys[256], keys_before[256];
int pointer_x, pointer_y, pad_direction, pad_buttons;

/* What the latest poll found. */
int wants_start;   /* Space, Enter, a click or a pad button went down */
int wants_quit;    /* Escape went down */
int lane_steps;    /* lanes to move: presses of the arrow keys and pushes of a pad, left negative */
int pointer_lane;  /* the lane under the pointer when it moved, else -1 */

#define LANES 5
#define LANE_WIDTH 128

void choose_keys()
{
  direct_input = ini_geti("System", "DirectInput", 0, 0);
  if (direct_input) {
    key_left = 0xCB; key_right = 0xCD; key_space = 0x39; key_return = 0x1C; key_escape = 0x01;
  } else {
    key_left = 0x25; key_right = 0x27; key_space = 0x20; key_return = 0x0D; key_escape = 0x1B;
  }
}

/* A key went down since the previous poll. The virtual-key table also flips a key's bit 0 at each
   press, so a press and its release that both fall between two polls still count. */
int pressed(int code)
{
  if ((keys[code] & 0x80) && !(keys_before[code] & 0x80)) return 1;
  if (!direct_input && ((keys[code] ^ keys_before[code]) & 1)) return 1;
  return 0;
}

int lane_at(int x)
{
  if (x >= LANES * LANE_WIDTH) return LANES - 1;
  return x / LANE_WIDTH;
}

void poll_input()
{
  POINTER p;
  JOYSTICK j;
  int direction;

  /* While the game is not the active window getkey gives zeros: the table is kept as it was, so
     that neither the loss nor the return of the focus looks like presses. */
  memcpy(keys_before, keys, 256);
  if (!getkey(keys)) memcpy(keys, keys_before, 256);
  wants_start = pressed(key_space) | pressed(key_return);
  wants_quit = pressed(key_escape);
  lane_steps = pressed(key_right) - pressed(key_left);

  /* getpoint tells which buttons were pressed since this thread's previous call. */
  pointer_lane = -1;
  getpoint(&p);
  if (p.flags & (POINT_LEFT_PRESSED | POINT_RIGHT_PRESSED | POINT_MIDDLE_PRESSED)) wants_start = 1;
  if (p.x >= 0 && p.y >= 0 && (p.x != pointer_x || p.y != pointer_y)) {
    pointer_lane = lane_at(p.x);
    pointer_x = p.x;
    pointer_y = p.y;
  }

  /* The first pad: the stick or the hat pushed left or right moves one lane per push. */
  direction = 0;
  if (getjoy(0, &j)) {
    if (j.x < -500) direction = -1;
    if (j.x > 500) direction = 1;
    if (j.buttons & ~pad_buttons) wants_start = 1;
    pad_buttons = j.buttons;
  } else {
    pad_buttons = 0;
  }
  if (direction != 0 && direction != pad_direction) lane_steps = lane_steps + direction;
  pad_direction = direction;
}

/* ---- The title screen ------------------------------------------------------------------------ */

/* The moving parts are sprites: layer 0 the stars, layer 1 a turning hub carrying three balls,
   layer 2 balls that bounce off the walls and off each other (hit regions), sorted by height so
   that a lower ball is drawn over a higher one, layer 3 the title and the bars. sp_draw repaints
   only what moved, from the background plane. */
SPRITE *stars[12], *hub, *ring[3], *balls[FREE_BALLS], *title, *subtitle, *help, *hud;
HITREGION *regions[FREE_BALLS];
int vx[FREE_BALLS], vy[FREE_BALLS];
BLITMODE alpha, fade, copy, blend;
int bounces;

void set_mode(BLITMODE *m, int mode, int opacity)
{
  m->mode = mode; m->operation = 0; m->opacity = opacity; m->parameter = 0; m->key = 0; m->colour = 0;
}

void show(SPRITE *s, int on)
{
  if (on) s->kind = SP_DRAWN; else s->kind = SP_HIDDEN;
  s->flags = s->flags | SPF_CHANGED;
}

void make_title_screen(int seconds)
{
  RECT r;
  int i;

  set_mode(&alpha, BLIT_ALPHA, 255);
  set_mode(&fade, BLIT_ALPHA, 255);
  set_mode(&copy, BLIT_COPY, 255);
  set_mode(&blend, BLIT_BLEND, 210);

  /* The background: the rings picture turned and enlarged once into a plane of the screen's size. */
  galloc(BACK, 640, 480, 32);
  r.left = -255; r.right = 895; r.top = -191; r.bottom = 671;
  gblita(BACK, &r, RINGS, 0, &copy, 100);
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
  draw_help();
  help = sp_set(3, 2, 0, 432, HELP, 0, &blend);
  galloc(HUD, 640, 22, 32);
  draw_hud(0, 0, seconds);
  hud = sp_set(3, 2, 0, 458, HUD, 0, &copy);
}

void show_title_screen(int on)
{
  int i;
  show(hub, on);
  for (i = 0; i < 3; i++) show(ring[i], on);
  for (i = 0; i < FREE_BALLS; i++) show(balls[i], on);
  show(title, on);
  show(subtitle, on);
  show(help, on);
}

/* The stars drift and twinkle on every screen. */
void move_stars(int t)
{
  int i, n;
  for (i = 0; i < 12; i++) {
    stars[i]->x = (i * 151 + t / (6 + i % 5)) % 680 - 20;
    stars[i]->mode.opacity = 128 + sine(t / 3 + i * 300) / 9;
    n = 0x8000 + (sine(t / 2 + i * 170) + 1024) * 24;
    stars[i]->scale_x = n; stars[i]->scale_y = n;
    stars[i]->angle = t / 5 + i * 100;
    stars[i]->flags = stars[i]->flags | SPF_CHANGED;
  }
}

void move_title_screen(int t)
{
  HITREGION *hit;
  int i, j, n, opacity;

  hub->angle = t / 3;
  hub->flags = hub->flags | SPF_CHANGED;
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
      balls[j]->flags = balls[j]->flags | SPF_CHANGED;
      bounces++;
    }
    balls[i]->angle = balls[i]->angle + vx[i] * 8;
    balls[i]->flags = balls[i]->flags | SPF_CHANGED;
  }
  sp_sort(4, 1);

  opacity = 255;
  if (t < 2000) opacity = t * 255 / 2000;
  title->mode.opacity = opacity;
  title->scale_x = 0x10000 + sine(t / 2) * 3;
  title->scale_y = 0x10000 + sine(t / 2) * 3;
  title->y = 110 + sine(t / 4) * 12 / 1024;
  title->angle = sine(t / 3) / 40;
  title->flags = title->flags | SPF_CHANGED;
  subtitle->mode.opacity = opacity;
  subtitle->flags = subtitle->flags | SPF_CHANGED;
  /* The line that says how to play pulses gently. */
  help->mode.opacity = 180 + sine(t / 2) * 60 / 1024;
  help->flags = help->flags | SPF_CHANGED;
}

/* ---- The game ------------------------------------------------------------------------------- */

#define ROW_Y 424        /* the basket's centre line, where things are caught */
#define TOP_Y -32        /* where things start, out of sight */
#define ROUND_MS 60000
#define LIVES 3
#define THINGS 12        /* at most this many on the screen at once */
#define GREEN 0          /* 10 points */
#define BLUE 1           /* 30 points */
#define BOMB_THING 2     /* costs a life when caught */
#define FREE 0
#define FALLING 1
#define PASSED 2         /* missed: it falls on past the basket and out of sight */

SPRITE *basket, *things[THINGS], *panel;
HITREGION *basket_region, *thing_regions[THINGS];
int thing_state[THINGS], thing_kind[THINGS], thing_lane[THINGS], thing_start[THINGS], thing_fall[THINGS];
int round_number, lane, score, lives, caught, missed, bombs, dodged, dropped, next_drop, hurt_until;
int seconds_left, hud_changed;  /* the round's seconds left; the bar shows something old */

int lane_centre(int n) { return n * LANE_WIDTH + LANE_WIDTH / 2; }

/* A filled circle as a polygon of 24 corners. */
void disc(int plane, int cx, int cy, int radius, int colour)
{
  POINT2 p[24];
  int i;
  for (i = 0; i < 24; i++) {
    p[i].x = cx + sine(i * 2048 / 24 + 512) * radius / 1024;
    p[i].y = cy + sine(i * 2048 / 24) * radius / 1024;
  }
  gpoly(plane, p, 24, colour);
}

/* The bomb, 64 x 64 like the balls, and the basket, drawn at start with the engine's shapes. */
void draw_bomb()
{
  galloc(BOMB, 64, 64, 32);
  gclear(BOMB, 0, 0);
  disc(BOMB, 31, 37, 25, 0xFFD02818);
  disc(BOMB, 31, 37, 23, 0xFF0C0C10);
  disc(BOMB, 31, 37, 20, 0xFF30303C);
  disc(BOMB, 23, 29, 7, 0xFF70708A);
  disc(BOMB, 21, 27, 3, 0xFFD0D0E0);
  gfill(BOMB, 25, 10, 13, 7, 0xFF5A5A64);
  gline(BOMB, 32, 10, 36, 5, 0xFFC8A060);
  gline(BOMB, 36, 5, 43, 4, 0xFFC8A060);
  disc(BOMB, 46, 4, 4, 0xFFFF8020);
  gfill(BOMB, 45, 3, 3, 3, 0xFFFFF0A0);
}

void draw_basket()
{
  POINT2 p[4];
  int x;
  galloc(BASKET, 112, 36, 32);
  gclear(BASKET, 0, 0);
  p[0].x = 6; p[0].y = 8; p[1].x = 106; p[1].y = 8; p[2].x = 94; p[2].y = 35; p[3].x = 18; p[3].y = 35;
  gpoly(BASKET, p, 4, 0xFF9A6028);
  for (x = 22; x <= 90; x = x + 12) gline(BASKET, x, 11, x + (x - 56) / 6, 33, 0xFF6A3E16);
  gline(BASKET, 10, 19, 102, 19, 0xFF6A3E16);
  gline(BASKET, 14, 27, 98, 27, 0xFF6A3E16);
  gfill(BASKET, 2, 3, 108, 7, 0xFFD89A50);
  gline(BASKET, 4, 4, 107, 4, 0xFFF4CC88);
}

void make_game_sprites()
{
  RECT r;
  BLITMODE dim;
  int i;
  draw_bomb();
  draw_basket();
  galloc(FIELD, 640, 480, 32);
  gclear(FIELD, 0, 0);
  set_mode(&dim, BLIT_BLEND, 110);
  gcopy(FIELD, 0, 0, BACK, 0, &dim);
  for (i = 1; i < LANES; i++) gline(FIELD, i * LANE_WIDTH, 0, i * LANE_WIDTH, 479, 0x48A0B0E0);
  /* Each thing's hit region (layer 4) tests against the basket's (layer 5): 32 x 32 around the
     thing's centre, and the basket's 96 x 36, so that only a thing in the basket's lane meets it. */
  basket = sp_set(5, SP_HIDDEN, lane_centre(2), ROW_Y, BASKET, 0, &alpha);
  basket->pivot_x = 56; basket->pivot_y = 18;
  r.left = 8; r.top = 0; r.right = 104; r.bottom = 36;
  basket_region = hit_set(5, 0, basket, &r, 0);
  for (i = 0; i < THINGS; i++) {
    things[i] = sp_set(4, SP_HIDDEN, 0, TOP_Y, BALLS + 1, 0, &alpha);
    things[i]->pivot_x = 32; things[i]->pivot_y = 32;
    things[i]->scale_x = 0x8000; things[i]->scale_y = 0x8000;
    r.left = 16; r.top = 16; r.right = 48; r.bottom = 48;
    thing_regions[i] = hit_set(4, 1 << 5, things[i], &r, i);
    thing_state[i] = FREE;
  }
  galloc(PANEL, 440, 200, 32);
  panel = sp_set(6, SP_HIDDEN, 100, 120, PANEL, 0, &blend);
}

/* The schedule: the n-th thing is dropped a gap after the one before and takes `fall` ms from the
   top to the basket; both shrink as the round goes on, but two things reach the basket's row at
   least half a second apart. */
int gap_after(int n)
{
  if (n >= 36) return 560;
  return 1100 - n * 15;
}

int fall_time(int n)
{
  if (n >= 44) return 1500;
  return 2600 - n * 25;
}

void drop(int at)
{
  int r, i, kind, where;
  /* Two random numbers a thing, whether there is room for it or not, so that the sequence does
     not depend on the screen. Bombs grow from one thing in five to two in five. */
  r = rand() % 100;
  where = rand() % LANES;
  kind = GREEN;
  if (r < 15) kind = BLUE;
  else if (r < 35 + dropped * 2 / 3 && r < 55) kind = BOMB_THING;
  for (i = 0; i < THINGS && thing_state[i] != FREE; i++) ;
  if (i < THINGS) {
    thing_state[i] = FALLING;
    thing_kind[i] = kind;
    thing_lane[i] = where;
    thing_start[i] = at;
    thing_fall[i] = fall_time(dropped);
    if (kind == BOMB_THING) things[i]->plane = BOMB; else things[i]->plane = BALLS + 1 + kind;
    things[i]->x = lane_centre(where);
    things[i]->y = TOP_Y;
    things[i]->angle = 0;
    show(things[i], 1);
  }
  dropped++;
}

/* ---- Sound ----------------------------------------------------------------------------------

   The sounds come from sounds.bin (made by make-assets.sh): short waves loaded whole for the
   effects, and the theme as a MIDI file. When the game folder holds a CD's tracks (cd/track02.ogg
   and so on), the theme comes from the disc instead; without a SoundFont for MIDI, an Ogg stream
   of the same chords plays. Without a sound device they all play silently, and a game whose sound
   could not load still plays. */
#define MUSIC 0
#define CATCH_SOUND 1
#define MISS_SOUND 2
#define BOMB_SOUND 3

#define NO_MUSIC 0
#define CD_MUSIC 1
#define MIDI_MUSIC 2
#define STREAM_MUSIC 3
int music_kind;
int music_level;   /* the music's volume now, 0-100 */
int music_target;  /* where it is going: quieter behind the title and after a round */

int load_sounds()
{
  int ok;
  ok = snd_load(CATCH_SOUND, "sounds/catch.wav");
  ok = ok & snd_load(MISS_SOUND, "sounds/miss.wav");
  ok = ok & snd_load(BOMB_SOUND, "sounds/bomb.wav");
  snd_setvol(CATCH_SOUND, 80);
  snd_setvol(BOMB_SOUND, 80);
  return ok;
}

void set_music_volume(int level)
{
  if (music_kind == CD_MUSIC) cd_setvol(level);
  if (music_kind == MIDI_MUSIC) midi_setvol(level);
  if (music_kind == STREAM_MUSIC) snd_setvol(MUSIC, level);
}

/* The intro movie (movies.bin, made by make-assets.sh) across the middle of the screen, 16:9 in
   the 4:3 picture; a key, a click or a button skips it. */
void play_intro()
{
  RECT r;
  int t;
  if (!media_open("movies/intro.mp4")) {
    log_out("no intro movie");
    return;
  }
  r.left = 0; r.top = 60; r.right = 640; r.bottom = 420;
  media_size(&r);
  media_play();
  setcount(3, 0);
  wants_start = 0;
  wants_quit = 0;
  while (media_isplay() && getcount(3) < 5000) {
    poll_input();
    if (wants_start || wants_quit) break;
    sleep(10);
  }
  if (wants_start || wants_quit) log_out("intro skipped");
  else log_out("intro played");
  wants_start = 0;
  wants_quit = 0;
  media_close();
}

/* The first audio track of the disc (data tracks refuse to play), or the MIDI theme, or the Ogg
   stream; each repeats for ever. */
void start_music()
{
  int track;
  music_kind = NO_MUSIC;
  if (cd_getlen(0) > 0) {
    for (track = 1; track < 100 && music_kind == NO_MUSIC; track++)
      if (cd_getlen(track) > 0 && cd_play(track, 0)) music_kind = CD_MUSIC;
    if (music_kind == CD_MUSIC) cd_repeat(1);
  }
  if (music_kind == NO_MUSIC && midi_load("sounds/theme.mid")) {
    midi_repeat(1);
    midi_play(0);
    music_kind = MIDI_MUSIC;
  }
  if (music_kind == NO_MUSIC && snd_loads(MUSIC, "sounds/music.ogg")) {
    snd_play(MUSIC, 1);
    music_kind = STREAM_MUSIC;
  }
  if (music_kind == CD_MUSIC) log_out("music: CD audio");
  if (music_kind == MIDI_MUSIC) log_out("music: the MIDI theme");
  if (music_kind == STREAM_MUSIC) log_out("music: the Ogg stream");
  music_level = 45;
  music_target = 45;
  set_music_volume(music_level);
}

/* Half a second down to silence as the demo closes. */
void fade_music_out()
{
  int start, level;
  if (music_kind == CD_MUSIC) { cd_stop(500); sleep(550); return; }
  setcount(3, 0);
  start = music_level;
  level = start;
  while (level > 0) {
    level = start - start * getcount(3) / 500;
    if (level < 0) level = 0;
    set_music_volume(level);
    sleep(10);
  }
}

/* The music swells when a round starts and fades back when it ends. */
void music_for(int playing)
{
  if (playing) music_target = 80; else music_target = 35;
}

/* Called every frame: the level moves a step towards its target, a fade of about a second. */
void fade_music()
{
  if (music_level < music_target) {
    music_level = music_level + 1;
    set_music_volume(music_level);
  } else if (music_level > music_target) {
    music_level = music_level - 1;
    set_music_volume(music_level);
  }
}

/* A catch sounds higher the further right it is. */
void sound_of(int kind, int where)
{
  snd_setfreq(CATCH_SOUND, 22050 + where * 1500);
  snd_setpan(CATCH_SOUND, (where - LANES / 2) * 30);
  snd_play(kind, 0);
}

void start_round()
{
  int i;
  round_number++;
  srand(20261211 + round_number);
  lane = LANES / 2;
  score = 0; lives = LIVES; caught = 0; missed = 0; bombs = 0; dodged = 0;
  dropped = 0; next_drop = 1000; hurt_until = 0;
  for (i = 0; i < THINGS; i++) {
    thing_state[i] = FREE;
    show(things[i], 0);
  }
  sp_setbg(FIELD);
  basket->x = lane_centre(lane);
  basket->mode.opacity = 255;
  show(basket, 1);
  show(panel, 0);
  hud_changed = 1;
  setcount(2, 0);
  log_out("round %d: go", round_number);
}

/* The thing reaches the basket's row at `at` ms of the round: it is caught when its region meets
   the basket's, that is when the basket is in its lane. */
void decide(int i, int at)
{
  things[i]->x = lane_centre(thing_lane[i]);
  things[i]->y = ROW_Y;
  if (hit_check(thing_regions[i])) {
    if (thing_kind[i] == BOMB_THING) {
      lives--;
      bombs++;
      hurt_until = at + 900;
      sound_of(BOMB_SOUND, thing_lane[i]);
      log_out("  %d ms, lane %d: a bomb caught, lives left: %d", at, thing_lane[i], lives);
    } else {
      if (thing_kind[i] == BLUE) score = score + 30; else score = score + 10;
      caught++;
      sound_of(CATCH_SOUND, thing_lane[i]);
      log_out("  %d ms, lane %d: caught, score %d", at, thing_lane[i], score);
    }
    hud_changed = 1;
    thing_state[i] = FREE;
    show(things[i], 0);
    return;
  }
  if (thing_kind[i] == BOMB_THING) {
    dodged++;
    log_out("  %d ms, lane %d: a bomb dodged", at, thing_lane[i]);
  } else {
    missed++;
    sound_of(MISS_SOUND, thing_lane[i]);
    log_out("  %d ms, lane %d: missed", at, thing_lane[i]);
  }
  thing_state[i] = PASSED;
}

/* One frame of a round at `t` ms of it; returns 1 when the round is over. */
int play(int t)
{
  int i, elapsed;

  seconds_left = (ROUND_MS - t + 999) / 1000;
  if (seconds_left < 0) seconds_left = 0;
  lane = lane + lane_steps;
  if (pointer_lane >= 0) lane = pointer_lane;
  if (lane < 0) lane = 0;
  if (lane >= LANES) lane = LANES - 1;
  basket->x = lane_centre(lane);
  basket->mode.opacity = 255;
  if (t < hurt_until && (t / 100) % 2 == 0) basket->mode.opacity = 70;
  basket->flags = basket->flags | SPF_CHANGED;

  /* Nothing is dropped that would still be falling when the time is up. */
  while (t >= next_drop && next_drop + fall_time(dropped) <= ROUND_MS) {
    drop(next_drop);
    next_drop = next_drop + gap_after(dropped);
  }
  for (i = 0; i < THINGS; i++) {
    if (thing_state[i] == FREE) continue;
    elapsed = t - thing_start[i];
    if (thing_state[i] == FALLING && elapsed >= thing_fall[i]) {
      decide(i, thing_start[i] + thing_fall[i]);
      if (lives == 0) return 1;
      if (thing_state[i] == FREE) continue;
    }
    things[i]->x = lane_centre(thing_lane[i]);
    things[i]->y = TOP_Y + (ROW_Y - TOP_Y) * elapsed / thing_fall[i];
    if (thing_kind[i] != BOMB_THING) things[i]->angle = elapsed / 2;
    things[i]->flags = things[i]->flags | SPF_CHANGED;
    if (things[i]->y > 520) {
      thing_state[i] = FREE;
      show(things[i], 0);
    }
  }
  return t >= ROUND_MS;
}

void end_round()
{
  char text[80];
  int i;
  log_out("game over: score %d", score);
  log_out("round %d: %d caught, %d missed, %d bombs caught, %d dodged", round_number, caught, missed, bombs, dodged);
  show(basket, 0);
  for (i = 0; i < THINGS; i++) {
    thing_state[i] = FREE;
    show(things[i], 0);
  }
  gclear(PANEL, 0, 0x0C1020);
  gline(PANEL, 0, 0, 439, 0, 0xFFFCC040);
  gline(PANEL, 0, 199, 439, 199, 0xFFFCC040);
  gline(PANEL, 0, 0, 0, 199, 0xFFFCC040);
  gline(PANEL, 439, 0, 439, 199, 0xFFFCC040);
  centred(PANEL, 440, 14, 40, FONT_BOLD, 0xFC, "GAME OVER");
  sprintf(text, "score %d", score);
  centred(PANEL, 440, 64, 26, 0, 0xFF, text);
  if (lives == 0) strcpy(text, "no lives left"); else strcpy(text, "time is up");
  centred(PANEL, 440, 100, 16, 0, 0xB6, text);
  sprintf(text, "%d caught, %d missed, %d bombs", caught, missed, bombs);
  centred(PANEL, 440, 120, 16, 0, 0xB6, text);
  centred(PANEL, 440, 150, 14, 0, 0x1F, "Space, Enter, a click or a pad button: play again");
  centred(PANEL, 440, 170, 14, 0, 0x1F, "Esc: quit");
  show(panel, 1);
}

/* ---- The frames ------------------------------------------------------------------------------ */

#define TITLE_SCREEN 0
#define PLAYING 1
#define GAME_OVER 2

int run(int seconds)
{
  RECT r;
  int screen, t, frame, next_report, next_hud, hud_frames, fps_now, over_at;

  if (!load_pictures()) { log_out("the pictures could not be read"); return 0; }
  log_out("pictures read from pictures.bin: rings %d-bit, title %d-bit", 8, 32);
  choose_keys();
  make_title_screen(seconds);
  make_game_sprites();
  if (load_sounds()) log_out("sounds read from sounds.bin");
  else log_out("the sounds could not be read; the demo plays without them");
  play_intro();
  start_music();

  setcount(1, 0);
  screen = TITLE_SCREEN;
  frame = 0;
  next_report = 5000;
  next_hud = 500;
  hud_frames = 0;
  fps_now = 0;
  over_at = 0;
  for (;;) {
    t = getcount(1);
    poll_input();
    if (wants_quit) {
      log_out("Escape: quit");
      break;
    }
    if (finished == 3) {
      log_out("primes below 30000: %d, fib(24): %d, longest Collatz chain below 20000: %d steps",
              results[1], results[2], results[3]);
      finished++;
    }
    move_stars(t);
    fade_music();
    if (screen == TITLE_SCREEN) {
      /* Nobody played: the title screen closes itself in time. */
      if (t >= seconds * 1000) break;
      move_title_screen(t);
      if (wants_start) {
        show_title_screen(0);
        start_round();
        music_for(1);
        screen = PLAYING;
      }
    } else if (screen == GAME_OVER) {
      /* A moment's grace, so that a press meant for the round does not start the next one. */
      if (wants_start && t - over_at >= 800) {
        start_round();
        music_for(1);
        screen = PLAYING;
      }
    }
    if (screen == PLAYING && play(getcount(2))) {
      end_round();
      music_for(0);
      screen = GAME_OVER;
      over_at = t;
    }
    /* The bar is written twice a second, and at once when the score or the lives change. */
    if (t >= next_hud) {
      fps_now = (frame - hud_frames) * 2;
      hud_frames = frame;
      next_hud = next_hud + 500;
      hud_changed = 1;
    }
    if (hud_changed) {
      if (screen == TITLE_SCREEN) draw_hud(bounces, fps_now, seconds - t / 1000);
      else draw_play_hud(score, lives, seconds_left, fps_now);
      hud->flags = hud->flags | SPF_CHANGED;
      hud_changed = 0;
    }

    sp_draw(-1, &r);
    update(&r);
    frame++;
    if (screen == TITLE_SCREEN && t >= next_report) {
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
  char text[320];
  f = fopen("/dev/stderr", "wb");
  if (!f) return;
  sprintf(text, "Talven demo: pictures, sprites, script threads and a small game. Space, Enter, a click or a "
          "pad button plays; Esc quits; untouched it closes itself after %d s. Its log lines: talven --log - games/demo\n",
          seconds);
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

  /* The workers compute while the title screen moves; run() reports their results. */
  setcount(0, 0);
  for (i = 1; i <= 3; i++) thd_begin(worker, i, 0, 0);

  f = fopen("demo-notes.txt", "w");
  fputs("Talven wrote this line.\n", f);
  fclose(f);
  f = fopen("demo-notes.txt", "r");
  fgets(line, 80, f);
  fclose(f);
  log_out("read back from demo-notes.txt: %s", line);

  run(seconds);
  fade_music_out();
  log_out("goodbye");
  exit();
  return 0;
}

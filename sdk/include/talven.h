/*
 * talven.h - the engine's built-in functions and the records scripts share with the engine.
 *
 *   #include "talven.h"
 *
 * Every built-in is declared after its own #trap line; the n-th #trap of a compilation is built-in
 * number n, so the declarations below must stay in this order and come before any other #trap.
 * Functions taking a variable number of arguments (gtextf, sprintf, dll_call, log_out) are
 * declared with their fixed parameters followed by the comment ", ..."; calls may pass more (no
 * count is checked by the compiler). In this language `void` is `int`, so `void *` is an address of int words.
 *
 * What surprises authors coming from C:
 * - This file must sit in the script folder beside main.c: the engine has no include path
 *   (talvenc -I is for authors' checks only).
 * - A game folder made by hand needs [General] FileSystem=3 in its .cfg: the default, 1, reads
 *   archives only.
 * - Arguments are evaluated from the last to the first: f(a(), b()) calls b first.
 * - sprintf, log_out and gtextf take one word per %d %u %x %c %s but two words per %f (a
 *   double), so %f cannot print a script float; use ftoa(buffer, f) and %s instead.
 * - Files opened in text mode (no "b" in the mode) are written with CR LF line ends.
 * - getcount(n) counts milliseconds from the engine's start until setcount(n, v) sets it.
 * - A cast between integer types changes only the type: (char)300 is 300.
 */

/* ---- records -------------------------------------------------------------------------------- */

/* A rectangle: right and bottom are exclusive. A null RECT address means the whole plane. */
typedef struct { int left; int top; int right; int bottom; } RECT;

/* The blit mode record of gcopy, gblit, gblita and sprites (12 bytes). */
typedef struct {
  unsigned char mode;       /* BLIT_COPY ... BLIT_MONOTINT */
  unsigned char operation;  /* blend operation 0..13 (modes 4, 6, 11, 12); channel selectors (mode 9) */
  unsigned char opacity;    /* 0..255 */
  unsigned char parameter;  /* tint strength (6, 12), window width (7), ramp width (8) */
  int key;                  /* colour key (1, 2); channel write mask (9) */
  int colour;               /* tint colour (6, 11, 12) */
} BLITMODE;

/* One polygon corner of gpoly. */
typedef struct { int x; int y; } POINT2;

/* What ginfo writes. */
typedef struct {
  int width;
  int height;
  int bits;
  int top_row;   /* address of the first byte of the top row */
  int row_step;  /* bytes from one row to the next one down (negative) */
  int colours;   /* address of the colour table; 0 for planes of 16 bits or more */
} PLANEINFO;

/* A sprite record (144 bytes); sp_set returns its address. */
typedef struct {
  unsigned char kind;      /* SP_FREE, SP_HIDDEN, SP_DRAWN */
  unsigned char layer;     /* 0..31 */
  unsigned short flags;    /* SPF_... */
  unsigned char mirror_x;
  unsigned char mirror_y;
  unsigned char shift;     /* fraction bits of x and y */
  unsigned char reserved;
  int priority;            /* secondary key of sp_sort */
  int plane;
  int x;
  int y;
  int pivot_x;
  int pivot_y;
  int scale_x;             /* 16.16, 0x10000 = 1 */
  int scale_y;
  int effective_scale_x;
  int effective_scale_y;
  unsigned short angle;    /* 2048 steps per turn */
  unsigned short effective_angle;
  RECT source;
  BLITMODE mode;
  RECT screen;
  RECT destination;
  int child_count;
  int children;
  int parent;
  int previous;
  int next;
  int hit_regions;
  int fragments;
  int reserved2;
} SPRITE;

/* A hit region record (11 words). */
typedef struct {
  int layer;
  int mask;
  RECT rect;
  SPRITE *sprite;
  int value;
  int previous;
  int next;
  int next_of_sprite;
} HITREGION;

/* The font record of font_set and font_get (48 bytes). */
typedef struct {
  char face[32];
  int size;    /* character height in pixels */
  int angle;   /* tenths of a degree */
  int flags;   /* FONT_BOLD ... */
  int weight;  /* below 1 means 400 */
} FONT;

/* getjoy, getmouse and getpoint records. */
typedef struct { int x; int y; int buttons; } JOYSTICK;
typedef struct { int dx; int dy; int dz; int buttons; } MOUSE;
typedef struct { int x; int y; int wheel; int flags; } POINTER;

/* The parameters of the sound effects (snd_setchorus ... snd_setreverb), field for field as the
   platform's effect structures; 0 instead of a pointer turns the effect off. The manual lists
   each field's range, default and unit. */
typedef struct { float wet_dry_mix; float depth; float feedback; float frequency; int waveform; float delay; int phase; } DSFXChorus;
typedef struct { float gain; float attack; float release; float threshold; float ratio; float predelay; } DSFXCompressor;
typedef struct { float gain; float edge; float post_eq_center_frequency; float post_eq_bandwidth; float pre_lowpass_cutoff; } DSFXDistortion;
typedef struct { float wet_dry_mix; float feedback; float left_delay; float right_delay; int pan_delay; } DSFXEcho;
typedef struct { float wet_dry_mix; float depth; float feedback; float frequency; int waveform; float delay; int phase; } DSFXFlanger;
typedef struct { int rate_hz; int wave_shape; } DSFXGargle;
typedef struct { float center; float bandwidth; float gain; } DSFXParamEq;
typedef struct { float in_gain; float reverb_mix; float reverb_time; float high_freq_rt_ratio; } DSFXWavesReverb;

/* A key frame: a track is an array of these sorted by time. */
typedef struct { float time; float value; float coefficient; float work; } KEYFRAME;

/* The date and time record of gettime, file_gettime and file_settime (eight 16-bit fields). */
typedef struct {
  short year; short month; short day_of_week; short day;
  short hour; short minute; short second; short milliseconds;
} SYSTEMTIME;

/* The setjmp buffer: a copy of the caller's 16-word script context. */
typedef struct { int words[16]; } JMPBUF;

/* A directory search result of find_first and find_next. */
typedef struct {
  int attributes;
  int created[2];
  int accessed[2];
  int written[2];
  int size_high;
  int size_low;
  int reserved[2];
  char name[260];
  char short_name[14];
  short padding;  /* the platform record is 320 bytes */
} FINDDATA;

/* The regular-expression match record (the matching library's region object). */
typedef struct {
  int allocated;
  int groups;
  int *begin;  /* byte offsets of each group's start */
  int *end;    /* and end */
  int history;
} MATCH;

/* What ef_info writes: the mesh is (columns + 1) * (rows + 1) points of two floats. */
typedef struct { int columns; int rows; float *mesh; } EFFECTINFO;

/* Software 3D records. */
typedef struct { float r; float g; float b; float range; int type; } LIGHT3D;
typedef struct { int colour; int texture; unsigned char mode; } MATERIAL3D;

/* ---- constants ------------------------------------------------------------------------------ */

#define BLIT_COPY       0
#define BLIT_SRCKEY     1
#define BLIT_DSTKEY     2
#define BLIT_BLEND      3
#define BLIT_OPERATION  4
#define BLIT_ALPHA      5
#define BLIT_TINT       6
#define BLIT_WINDOW     7
#define BLIT_RAMP       8
#define BLIT_CHANNELS   9
#define BLIT_ALPHACOPY  10
#define BLIT_MASKFILL   11
#define BLIT_MONOTINT   12

#define SP_FREE         0
#define SP_HIDDEN       1
#define SP_DRAWN        2
#define SPF_CHANGED     0x0001
#define SPF_SMOOTH      0x0010
#define SPF_REMOVE      0x2000

#define FONT_BOLD       1
#define FONT_ITALIC     2
#define FONT_UNDERLINE  4
#define FONT_STRIKEOUT  8
#define FONT_ANTIALIAS  16

#define MOUSE_LEFT      1
#define MOUSE_RIGHT     2
#define MOUSE_MIDDLE    4
#define POINT_LEFT_PRESSED    0x10000
#define POINT_RIGHT_PRESSED   0x20000
#define POINT_MIDDLE_PRESSED  0x40000
#define POINT_LEFT_DOUBLE     0x1000000
#define POINT_RIGHT_DOUBLE    0x2000000
#define POINT_MIDDLE_DOUBLE   0x4000000

#define SEEK_SET        0
#define SEEK_CUR        1
#define SEEK_END        2

#define PALETTE_COLOUR  0x01000000

/* ---- built-in functions, in table order ----------------------------------------------------- */

#trap
int jump(char *file);	/* 0 */
#trap
int call(char *file);	/* 1 */
#trap
int exit();	/* 2 */
#trap
int setjmp(JMPBUF *buffer);	/* 3 */
#trap
int longjmp(JMPBUF *buffer, int value);	/* 4 */
#trap
int thd_begin(int (*function)(), int argument, int suspended, int stack_size);	/* 5 */
#trap
int thd_end(int thread);	/* 6 */
#trap
int thd_suspend(int thread);	/* 7 */
#trap
int thd_resume(int thread);	/* 8 */
#trap
int sleep(int milliseconds);	/* 9 */
#trap
int ini_seti(char *section, char *key, int value, char *file);	/* 10 */
#trap
int ini_sets(char *section, char *key, char *text, char *file);	/* 11 */
#trap
int ini_geti(char *section, char *key, int default_value, char *file);	/* 12 */
#trap
int ini_gets(char *section, char *key, char *default_text, char *buffer, int size, char *file);	/* 13 */
#trap
int pal_map(int *palette);	/* 14 */
#trap
int pal_load(int plane, int first, int start, int count);	/* 15 */
#trap
int pal_set(int index, int colour);	/* 16 */
#trap
int pal_get(int index);	/* 17 */
#trap
int pal_sets(int start, int count, int *colours);	/* 18 */
#trap
int pal_gets(int start, int count, int *colours);	/* 19 */
#trap
int pal_change();	/* 20 */
#trap
int getpixel(int plane, int x, int y);	/* 21 */
#trap
int rgbtohsv(int colour);	/* 22 */
#trap
int hsvtorgb(int hsv);	/* 23 */
#trap
int gclip(int plane, RECT *rect);	/* 24 */
#trap
int ginit();	/* 25 */
#trap
int galloc(int plane, int width, int height, int bits);	/* 26 */
#trap
int gfree(int plane);	/* 27 */
#trap
int gload(int plane, char *file);	/* 28 */
#trap
int gsave(char *file, int plane, RECT *rect);	/* 29 */
#trap
int gcopy(int dst_plane, int x, int y, int src_plane, RECT *src_rect, BLITMODE *mode);	/* 30 */
#trap
int gblit(int dst_plane, RECT *dst_rect, int src_plane, RECT *src_rect, BLITMODE *mode, int angle);	/* 31 */
#trap
int gblita(int dst_plane, RECT *dst_rect, int src_plane, RECT *src_rect, BLITMODE *mode, int angle);	/* 32 */
#trap
int gclear(int plane, RECT *rect, int colour);	/* 33 */
#trap
int gfill(int plane, int x, int y, int width, int height, int colour);	/* 34 */
#trap
int gline(int plane, int x1, int y1, int x2, int y2, int colour);	/* 35 */
#trap
int gpoly(int plane, POINT2 *points, int count, int colour);	/* 36 */
#trap
int gattach(int plane, int mask_plane);	/* 37 */
#trap
int gdetach(int plane);	/* 38 */
#trap
int ggetpal(int plane, int start, int count, int *colours);	/* 39 */
#trap
int gsetpal(int plane, int start, int count, int *colours);	/* 40 */
#trap
int ginfo(int plane, PLANEINFO *out);	/* 41 */
#trap
int dload(int plane, int x, int y, char *file, RECT *rect_out);	/* 42 */
#trap
int dcopy(int plane, int x, int y, char *data, RECT *rect_out);	/* 43 */
#trap
int p3d_tex(int plane);	/* 44 */
#trap
int p3d_init(int plane, float a, float b, float c);	/* 45 */
#trap
int p3d_uninit();	/* 46 */
#trap
int p3d_load(char *file);	/* 47 */
#trap
int p3d_free(int model);	/* 48 */
#trap
int p3d_normal(int model);	/* 49 */
#trap
int p3d_clear();	/* 50 */
#trap
int p3d_view(float *position, float *angles);	/* 51 */
#trap
int p3d_env(float r, float g, float b);	/* 52 */
#trap
int p3d_light(LIGHT3D *light, float a, float b, float c);	/* 53 */
#trap
int p3d_material(int model, int material_number, MATERIAL3D *material);	/* 54 */
#trap
int p3d_setobj(int model, float *position, float *angles);	/* 55 */
#trap
int p3d_render();	/* 56 */
#trap
int sp_flag(int flags);	/* 57 */
#trap
int sp_init(int layer_mask);	/* 58 */
#trap
int sp_setbg(int plane);	/* 59 */
#trap
int sp_getbg();	/* 60 */
#trap
int sp_redraw(int layer_mask);	/* 61 */
#trap
SPRITE *sp_set(int layer, int kind, int x, int y, int plane, RECT *src_rect, BLITMODE *mode);	/* 62 */
#trap
int sp_reset(SPRITE *sprite);	/* 63 */
#trap
int sp_link(SPRITE *parent, SPRITE *child);	/* 64 */
#trap
int sp_unlink(SPRITE *child);	/* 65 */
#trap
int sp_draw(int layer_mask, RECT *rect_out);	/* 66 */
#trap
int sp_bgorg(int x, int y);	/* 67 */
#trap
int sp_org(int layer_mask, int x, int y);	/* 68 */
#trap
int sp_sort(int layer_mask, int mode);	/* 69 */
#trap
int sp_rect(SPRITE *sprite, RECT *rect_out);	/* 70 */
#trap
int hit_init(int layer_mask);	/* 71 */
#trap
HITREGION *hit_set(int layer, int mask, SPRITE *sprite, RECT *rect, int value);	/* 72 */
#trap
int hit_reset(HITREGION *region);	/* 73 */
#trap
HITREGION *hit_check(HITREGION *region);	/* 74 */
#trap
HITREGION *hit_rect(RECT *rect, int layer_mask);	/* 75 */
#trap
HITREGION *hit_point(int x, int y, int layer_mask);	/* 76 */
#trap
int setorg(int x, int y);	/* 77 */
#trap
int vpage(int plane);	/* 78 */
#trap
int apage(int plane);	/* 79 */
#trap
int update(RECT *rect);	/* 80 */
#trap
int font_list(char *buffer, int max);	/* 81 */
#trap
int font_use(int slot);	/* 82 */
#trap
int font_set(int slot, FONT *record);	/* 83 */
#trap
int font_get(int slot, FONT *record);	/* 84 */
#trap
int font_abc(int slot, int code, float *abc);	/* 85 */
#trap
int font_kern(int slot, int pair, float *out);	/* 86 */
#trap
int gtext(int plane, int x, int y, int colour, char *text);	/* 87 */
#trap
int gtextf(int plane, int x, int y, int colour, char *format /* , ... */);	/* 88 */
#trap
int drt_init();	/* 89 */
#trap
int drt_set(RECT *rect);	/* 90 */
#trap
int drt_copy(int dst_plane, int x, int y, int src_plane, RECT *src_rect);	/* 91 */
#trap
int midi_load(char *file);	/* 92 */
#trap
int midi_free();	/* 93 */
#trap
int midi_play(int unused);	/* 94 */
#trap
int midi_stop(int unused);	/* 95 */
#trap
int midi_pause();	/* 96 */
#trap
int midi_replay();	/* 97 */
#trap
int midi_setvol(int volume);	/* 98 */
#trap
int midi_getvol();	/* 99 */
#trap
int midi_isplay();	/* 100 */
#trap
int midi_getpos();	/* 101 */
#trap
int midi_repeat(int flag);	/* 102 */
#trap
int snd_load(int slot, char *file);	/* 103 */
#trap
int snd_loads(int slot, char *file);	/* 104 */
#trap
int snd_free(int slot);	/* 105 */
#trap
int snd_play(int slot, int loop);	/* 106 */
#trap
int snd_stop(int slot);	/* 107 */
#trap
int snd_pause(int slot);	/* 108 */
#trap
int snd_replay(int slot);	/* 109 */
#trap
int snd_setvol(int slot, int volume);	/* 110 */
#trap
int snd_getvol(int slot);	/* 111 */
#trap
int snd_setpan(int slot, int pan);	/* 112 */
#trap
int snd_getpan(int slot);	/* 113 */
#trap
int snd_setfreq(int slot, int frequency);	/* 114 */
#trap
int snd_getfreq(int slot);	/* 115 */
#trap
int snd_isplay(int slot);	/* 116 */
#trap
int snd_setloop(int slot, int milliseconds);	/* 117 */
#trap
int snd_setpos(int slot, int milliseconds);	/* 118 */
#trap
int snd_getpos(int slot);	/* 119 */
#trap
int snd_getlen(int slot);	/* 120 */
#trap
int snd_gettext(int slot, char *buffer);	/* 121 */
#trap
int snd_setmargin(int milliseconds);	/* 122 */
#trap
int snd_setchorus(int slot, DSFXChorus *parameters);	/* 123 */
#trap
int snd_setcompressor(int slot, DSFXCompressor *parameters);	/* 124 */
#trap
int snd_setdistortion(int slot, DSFXDistortion *parameters);	/* 125 */
#trap
int snd_setecho(int slot, DSFXEcho *parameters);	/* 126 */
#trap
int snd_setflanger(int slot, DSFXFlanger *parameters);	/* 127 */
#trap
int snd_setgargle(int slot, DSFXGargle *parameters);	/* 128 */
#trap
int snd_setparameq(int slot, DSFXParamEq *parameters);	/* 129 */
#trap
int snd_setreverb(int slot, DSFXWavesReverb *parameters);	/* 130 */
#trap
int cd_play(int track, int fade_ms);	/* 131 */
#trap
int cd_stop(int fade_ms);	/* 132 */
#trap
int cd_pause();	/* 133 */
#trap
int cd_replay();	/* 134 */
#trap
int cd_setvol(int volume);	/* 135 */
#trap
int cd_getvol();	/* 136 */
#trap
int cd_isplay();	/* 137 */
#trap
int cd_getpos(int mode);	/* 138 */
#trap
int cd_getlen(int track);	/* 139 */
#trap
int cd_repeat(int mode);	/* 140 */
#trap
int cd_eject();	/* 141 */
#trap
int media_open(char *file);	/* 142 */
#trap
int media_close();	/* 143 */
#trap
int media_play();	/* 144 */
#trap
int media_stop();	/* 145 */
#trap
int media_pause();	/* 146 */
#trap
int media_replay();	/* 147 */
#trap
int media_isplay();	/* 148 */
#trap
int media_repeat(int flag);	/* 149 */
#trap
int media_size(RECT *rect);	/* 150 */
#trap
int media_setvol(int volume);	/* 151 */
#trap
int getkey(unsigned char *keys);	/* 152 */
#trap
int getjoy(int number, JOYSTICK *out);	/* 153 */
#trap
int getmouse(MOUSE *out);	/* 154 */
#trap
int getpoint(POINTER *out);	/* 155 */
#trap
int cur_set(int cursor);	/* 156 */
#trap
int cur_clip(RECT *rect);	/* 157 */
#trap
int cur_setpos(int x, int y);	/* 158 */
#trap
int getcount(int counter);	/* 159: ms since start, or since setcount(counter, v) plus v */
#trap
int setcount(int counter, int value);	/* 160 */
#trap
int gettime(SYSTEMTIME *out);	/* 161 */
#trap
int fps();	/* 162 */
#trap
int reg_new(char *pattern, int options);	/* 163 */
#trap
int reg_free(int handle);	/* 164 */
#trap
int reg_search(int handle, char *text, int length, int start, int range, MATCH *match, int options);	/* 165 */
#trap
int reg_match(int handle, char *text, int length, int at, MATCH *match, int options);	/* 166 */
#trap
MATCH *match_new();	/* 167 */
#trap
int match_free(MATCH *match);	/* 168 */
#trap
int match_clear(MATCH *match);	/* 169 */
#trap
int pack_save(char *file, void *block, int length);	/* 170 */
#trap
int pack_open(char *file);	/* 171 */
#trap
int pack_close(int handle);	/* 172 */
#trap
int pack_read(int handle, void *buffer, int count);	/* 173 */
#trap
int pack_seek(int handle, int offset, int origin);	/* 174 */
#trap
int pack_size(int handle);	/* 175 */
#trap
int fopen(char *file, char *mode);	/* 176: text modes write CR LF; "b" for bytes */
#trap
int fclose(int handle);	/* 177 */
#trap
int fread(void *buffer, int size, int count, int handle);	/* 178 */
#trap
int fwrite(void *buffer, int size, int count, int handle);	/* 179 */
#trap
int fseek(int handle, int offset, int origin);	/* 180 */
#trap
int ftell(int handle);	/* 181 */
#trap
char *fgets(char *buffer, int size, int handle);	/* 182 */
#trap
int fputs(char *text, int handle);	/* 183 */
#trap
int sysfile(char *file, void *block, int size);	/* 184 */
#trap
int sysio(int save);	/* 185 */
#trap
void *mload(char *file, int offset, int size);	/* 186 */
#trap
void *malloc(int size);	/* 187 */
#trap
void *realloc(void *block, int size);	/* 188 */
#trap
int free(void *block);	/* 189 */
#trap
int memcpy(void *destination, void *source, int count);	/* 190 */
#trap
int memmove(void *destination, void *source, int count);	/* 191 */
#trap
int memset(void *destination, int value, int count);	/* 192 */
#trap
int memcmp(void *a, void *b, int count);	/* 193 */
#trap
int memswap(void *a, void *b, int count);	/* 194 */
#trap
int srand(int seed);	/* 195 */
#trap
int rand();	/* 196 */
#trap
int abs(int n);	/* 197 */
#trap
int sgn(int n);	/* 198 */
#trap
int tsin(int angle);	/* 199 */
#trap
int tcos(int angle);	/* 200 */
#trap
int tatan(int x, int y);	/* 201 */
#trap
float random();	/* 202 */
#trap
float fabs(float f);	/* 203 */
#trap
float sqrt(float f);	/* 204 */
#trap
float pow(float base, float exponent);	/* 205 */
#trap
float log(float f);	/* 206 */
#trap
float exp(float f);	/* 207 */
#trap
float floor(float f);	/* 208 */
#trap
float ceil(float f);	/* 209 */
#trap
float sin(float f);	/* 210 */
#trap
float cos(float f);	/* 211 */
#trap
float tan(float f);	/* 212 */
#trap
float asin(float f);	/* 213 */
#trap
float acos(float f);	/* 214 */
#trap
float atan(float y, float x);	/* 215 */
#trap
int ftoa(char *buffer, float f);	/* 216: "%f" of a float, which sprintf's %f cannot print */
#trap
int perlin_init(int octaves, float persistence);	/* 217 */
#trap
float perlin_noise(float x, float y, float z);	/* 218 */
#trap
float bezier(float p0, float p1, float p2, float t);	/* 219 */
#trap
float neville(float p0, float p1, float p2, float t);	/* 220 */
#trap
float linear(float a, float b, float t);	/* 221 */
#trap
int kf_setkey(KEYFRAME *key, float time, float value);	/* 222 */
#trap
int kf_calc(KEYFRAME *track, int count);	/* 223 */
#trap
int kf_getindex(KEYFRAME *track, int count, float t);	/* 224 */
#trap
float kf_getkey(KEYFRAME *track, int count, float t, int mode);	/* 225 */
#trap
int find_first(char *pattern, FINDDATA *record);	/* 226 */
#trap
int find_next(int handle, FINDDATA *record);	/* 227 */
#trap
int find_close(int handle);	/* 228 */
#trap
int rc_empty(RECT *rc);	/* 229 */
#trap
int rc_set(RECT *rc, int left, int top, int right, int bottom);	/* 230 */
#trap
int rc_setwh(RECT *rc, int x, int y, int w, int h);	/* 231 */
#trap
int rc_copy(RECT *dst, RECT *src);	/* 232 */
#trap
int rc_move(RECT *rc, int dx, int dy);	/* 233 */
#trap
int rc_intersect(RECT *dst, RECT *a, RECT *b);	/* 234 */
#trap
int rc_union(RECT *dst, RECT *a, RECT *b);	/* 235 */
#trap
int rc_inflate(RECT *rc, int dx, int dy);	/* 236 */
#trap
int rc_in(RECT *rc, int x, int y);	/* 237 */
#trap
int rc_check(RECT *rc);	/* 238 */
#trap
int strlen(char *s);	/* 239 */
#trap
int strclen(char *s);	/* 240 */
#trap
char *strcpy(char *d, char *s2);	/* 241 */
#trap
char *strncpy(char *d, char *s2, int n);	/* 242 */
#trap
char *strcat(char *d, char *s2);	/* 243 */
#trap
int strcmp(char *s, char *s2);	/* 244 */
#trap
int strcmpi(char *s, char *s2);	/* 245 */
#trap
char *strlwr(char *s);	/* 246 */
#trap
char *strupr(char *s);	/* 247 */
#trap
char *strchr(char *s, int n);	/* 248 */
#trap
char *strtok(char *s, char *s2);	/* 249 */
#trap
int strcspn(char *s, char *s2);	/* 250 */
#trap
int strspn(char *s, char *s2);	/* 251 */
#trap
char *strstr(char *s, char *s2);	/* 252 */
#trap
char *strpbrk(char *s, char *s2);	/* 253 */
#trap
char *strdup(char *s);	/* 254 */
#trap
char *strndup(char *s, int n);	/* 255 */
#trap
int strtol(char *s, char **end, int base);	/* 256 */
#trap
unsigned strtoul(char *s, char **end, int base);	/* 257 */
#trap
float strtof(char *s, char **end);	/* 258 */
#trap
int sprintf(char *d, char *format /* , ... */);	/* 259: %f takes two words (a double), not a float */
#trap
int splitpath(char *path, char *drive, char *dir, char *fname, char *ext);	/* 260 */
#trap
int makepath(char *path, char *drive, char *dir, char *fname, char *ext);	/* 261 */
#trap
int hash32(char *text);	/* 262 */
#trap
int dir_getpath(int folder, char *buffer);	/* 263 */
#trap
int dir_getcur(char *buffer);	/* 264 */
#trap
int dir_setcur(char *path);	/* 265 */
#trap
int dir_create(char *path);	/* 266 */
#trap
int dir_delete(char *path);	/* 267 */
#trap
int file_copy(char *source, char *destination, int fail_if_exists);	/* 268 */
#trap
int file_move(char *source, char *destination);	/* 269 */
#trap
int file_delete(char *name);	/* 270 */
#trap
int file_size(char *name);	/* 271 */
#trap
int file_check(char *name);	/* 272 */
#trap
int file_getattr(char *name);	/* 273 */
#trap
int file_setattr(char *name, int attributes);	/* 274 */
#trap
int file_gettime(char *name, SYSTEMTIME *created, SYSTEMTIME *accessed, SYSTEMTIME *written);	/* 275 */
#trap
int file_settime(char *name, SYSTEMTIME *created, SYSTEMTIME *accessed, SYSTEMTIME *written);	/* 276 */
#trap
int wallpaper(char *file, int style);	/* 277 */
#trap
int shell(char *verb, char *file, char *parameters);	/* 278 */
#trap
int exec(char *command);	/* 279 */
#trap
int getsystem(char *name);	/* 280 */
#trap
int setsystem(char *name, int value);	/* 281 */
#trap
int mbox(int style, char *caption, char *text);	/* 282 */
#trap
int caption(char *text);	/* 283 */
#trap
int freemap(int dst_plane, int *corners, int src_plane, RECT *src_rect, int colour_key);	/* 284 */
#trap
int smooth(int dst_plane, RECT *dst_rect, int src_plane, RECT *src_rect, int colour_key);	/* 285 */
#trap
int rotate(int dst_plane, RECT *dst_rect, int src_plane, RECT *src_rect, int angle, int colour_key);	/* 286 */
#trap
int tiled(int dst_plane, RECT *dst_rect, int src_plane, RECT *src_rect, int angle, int scale);	/* 287 */
#trap
int scroll(int plane, RECT *rect, int dx, int dy);	/* 288 */
#trap
int noise(int plane, RECT *rect, int amount);	/* 289 */
#trap
int slice(int plane, RECT *rect, int amount);	/* 290 */
#trap
int gradation(int dst_plane, int x, int y, int src_plane, RECT *src_rect);	/* 291 */
#trap
int mosaic(int dst_plane, int x, int y, int src_plane, RECT *src_rect, int cell_width, int cell_height);	/* 292 */
#trap
int monotone(int plane, RECT *rect, int colour1, int colour2);	/* 293 */
#trap
int blur(int dst_plane, int x, int y, int src_plane, RECT *src_rect, int radius);	/* 294 */
#trap
int fire(int plane, RECT *rect);	/* 295 */
#trap
int ef_init(int slot, int dst_plane, RECT *dst_rect, int src_plane, RECT *src_rect);	/* 296 */
#trap
int ef_free(int slot);	/* 297 */
#trap
int ef_copy(int slot);	/* 298 */
#trap
int ef_info(int slot, EFFECTINFO *out);	/* 299 */
#trap
int ef_rotate(int slot, float cx, float cy, float scale, float angle);	/* 300 */
#trap
int ef_tunnel(int slot, float depth, float angle, float distance);	/* 301 */
#trap
int ef_land(int slot, float scale, float angle_a, float angle_b, float height);	/* 302 */
#trap
int ef_ball(int slot, float scale, float angle_a, float angle_b, float distance);	/* 303 */
#trap
int ef_whirl(int slot, float amount);	/* 304 */
#trap
int ef_raster(int slot, float phase, float wavelength, float amplitude);	/* 305 */
#trap
int ef_blob(int slot, float x, float y, float radius, float strength);	/* 306 */
#trap
int ef_water(int slot, float damping);	/* 307 */
#trap
int ef_clear(int slot);	/* 308 */
#trap
int ef_lens(int slot, float x, float y, float radius, float strength);	/* 309 */
#trap
int key_init();	/* 310 */
#trap
int key_get();	/* 311 */
#trap
int clip_write(char *text);	/* 312 */
#trap
int clip_read(char *buffer, int size);	/* 313 */
#trap
int net_open(char *host, int port);	/* 314 */
#trap
int net_close();	/* 315 */
#trap
int net_send(int slot, void *data, int length);	/* 316 */
#trap
int net_recv(int slot, void *buffer, int length);	/* 317 */
#trap
int net_state();	/* 318 */
#trap
int crc16(void *data, int length);	/* 319 */
#trap
int crc32(void *data, int length);	/* 320 */
/* dll_proc gives a function handle for dll_call; every argument reaches the native function as one
   32-bit word, and addresses are script addresses: see talven_native.h for library authors. */
#trap
int dll_load(char *file);	/* 321 */
#trap
int dll_unload(int slot);	/* 322 */
#trap
int dll_proc(int slot, char *name);	/* 323 */
#trap
int dll_call(int function /* , ... */);	/* 324 */
#trap
int log_clear();	/* 325 */
#trap
int log_out(char *format /* , ... */);	/* 326: as sprintf; %f takes two words (a double) */

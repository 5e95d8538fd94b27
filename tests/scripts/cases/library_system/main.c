#include "talven.h"
char path[300];
char buf[16];
FINDDATA found;
SYSTEMTIME written;
SYSTEMTIME accessed;
SYSTEMTIME check;

/* Arguments are evaluated from the right, so every call whose order matters gets its own line. */
int main()
{
  int a, b, c, d, n, slot, slot2, f, h, count, state[3];

  /* system values: names without regard to case; only the settable ones change */
  a = getsystem("fullscreen");
  b = getsystem("FULLSCREEN");
  log_out("fullscreen %d, FULLSCREEN %d", a, b);
  a = getsystem("Width") == getsystem("width");
  log_out("Width matches width %d, positive %d", a, getsystem("width") > 0);
  log_out("depth positive %d, unknown name %d, null name %d", getsystem("depth") > 0, getsystem("nothing"), getsystem(0));
  a = setsystem("width", 5);
  log_out("setsystem width %d, width unchanged %d", a, getsystem("width") != 5);
  a = setsystem("GLOBAL_SOUND", 0);
  log_out("setsystem global_sound %d -> %d", a, getsystem("global_sound"));
  a = setsystem("smoothing", 7);
  log_out("setsystem smoothing %d -> %d", a, getsystem("Smoothing"));
  a = setsystem("color_mapping", 1);
  log_out("setsystem color_mapping %d -> %d", a, getsystem("color_mapping"));
  log_out("setsystem fullscreen to the current state %d", setsystem("fullscreen", 0));
  log_out("setsystem sp_count %d", setsystem("sp_count", 3));
  log_out("wallpaper %d", wallpaper("x.bmp", 1));

  /* folders: the fixed system folder ends in a backslash */
  n = dir_getpath(36, path);
  log_out("dir_getpath 36: length matches %d, ends in backslash %d", n == strlen(path), path[n - 1] == 92);
  log_out("dir_getpath into 0: %d, unknown folder: %d", dir_getpath(36, 0), dir_getpath(250, path));
  n = dir_getcur(path);
  log_out("dir_getcur ends in backslash %d", n > 0 && path[n - 1] == 92);

  /* the clipboard: sizes as the engine reports them */
  log_out("clip_write %d, empty %d, null %d", clip_write("abcdef"), clip_write(""), clip_write(0));
  memset(buf, 120, 16);
  n = clip_read(buf, 4);
  log_out("clip_read 4 of abcdef: %d [%s]", n, buf);
  clip_write("ab");
  memset(buf, 120, 16);
  n = clip_read(buf, 4);
  log_out("clip_read 4 of ab: %d [%s], byte after it untouched %d", n, buf, buf[4]);
  log_out("clip_read bad buffers: %d %d", clip_read(0, 4), clip_read(buf, 0));
  clip_write("\x82\xA0\x82\xA2");
  n = clip_read(buf, 16);
  log_out("double-byte text comes back: %d %d", n, strcmp(buf, "\x82\xA0\x82\xA2"));

  /* files and folders, found without regard to case */
  a = dir_create("Work");
  b = dir_create("work");
  log_out("dir_create %d, again %d", a, b);
  f = fopen("work\\One.txt", "w");
  fputs("hello", f);
  fclose(f);
  log_out("file_check exact %d, other case %d, wildcard %d, missing %d", file_check("work\\One.txt"),
          file_check("WORK\\one.TXT"), file_check("work\\*.TXT"), file_check("work\\*.bmp"));
  log_out("file_size %d, pattern %d, missing %d", file_size("work/one.txt"), file_size("work\\o?e.*"), file_size("nothing"));
  a = file_copy("work\\one.txt", "work\\Two.txt", 1);
  b = file_copy("work\\one.txt", "work\\two.txt", 1);
  c = file_copy("work\\one.txt", "work\\two.txt", 0);
  log_out("file_copy %d, refused when it exists %d, allowed %d", a, b, c);
  a = file_move("work\\two.txt", "work\\three.txt");
  b = file_move("work\\three.txt", "work\\one.txt");
  log_out("file_move %d, onto an existing file %d", a, b);
  log_out("attributes of a file %x, a folder %x, nothing %x", file_getattr("work\\one.txt"), file_getattr("work"), file_getattr("none"));
  a = file_setattr("work\\one.txt", 1);
  b = file_getattr("work\\one.txt");
  c = file_setattr("work\\one.txt", 0);
  d = file_getattr("work\\one.txt");
  log_out("read-only %d -> %x, back %d -> %x", a, b, c, d);

  /* file times are local-time records */
  written.year = 2001; written.month = 2; written.day = 3; written.hour = 4; written.minute = 5; written.second = 6;
  accessed.year = 2010; accessed.month = 12; accessed.day = 31; accessed.hour = 23; accessed.minute = 59; accessed.second = 58;
  log_out("file_settime %d", file_settime("work\\one.txt", 0, &accessed, &written));
  log_out("file_gettime %d", file_gettime("work\\one.txt", 0, 0, &check));
  log_out("written %d-%d-%d %d:%d:%d day of week %d", check.year, check.month, check.day, check.hour, check.minute, check.second, check.day_of_week);
  file_gettime("work\\one.txt", 0, &check, 0);
  log_out("accessed %d-%d-%d %d:%d:%d", check.year, check.month, check.day, check.hour, check.minute, check.second);
  log_out("times of a missing file %d, an impossible date %d", file_gettime("none", 0, 0, &check), file_settime("work\\one.txt", 0, 0, &found));

  /* directory searches fill the find record */
  h = find_first("WORK\\*.txt", &found);
  count = 0;
  while (h != -1) {
    log_out("found [%s] attributes %x size %d short [%s]", found.name, found.attributes, found.size_low, found.short_name);
    count++;
    if (!find_next(h, &found)) break;
  }
  a = find_close(h);
  b = find_close(h);
  log_out("found %d, find_close %d, again %d", count, a, b);
  log_out("find_first of nothing %d", find_first("work\\*.zip", &found));
  h = find_first("work\\*", &found);
  log_out("the folder lists itself first: [%s] %x", found.name, found.attributes);
  find_close(h);

  a = file_delete("work\\one.txt");
  b = file_delete("work\\three.txt");
  c = file_delete("work\\three.txt");
  log_out("file_delete %d %d, again %d", a, b, c);
  a = dir_delete("work");
  b = dir_delete("work");
  log_out("dir_delete %d, again %d", a, b);

  /* native libraries */
  slot = dll_load("missing_library.so");
  log_out("dll_load of a missing library %d", slot);
  slot = dll_load("game\\talven_test_dll.so");
  log_out("dll_load takes the first slot %d", slot);
  slot2 = dll_load("GAME/TALVEN_TEST_DLL.so");
  log_out("second load takes the next slot %d", slot2);
  a = dll_unload(slot2);
  b = dll_unload(slot2);
  log_out("dll_unload %d, again %d, slot 256 %d", a, b, dll_unload(256));
  f = dll_proc(slot, "add3");
  log_out("add3 %d", dll_call(f, 1, 20, 300));
  f = dll_proc(slot, "weigh10");
  log_out("weigh10 %d", dll_call(f, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1000));
  log_out("no_arguments %d", dll_call(dll_proc(slot, "no_arguments")));
  strcpy(path, "through script memory");
  a = dll_call(dll_proc(slot, "upcase_in_place"), path);
  log_out("upcase_in_place %d [%s], a null-guard address %d", a, path, dll_call(dll_proc(slot, "upcase_in_place"), 16));
  log_out("unknown export %d, null name %d, empty slot %d", dll_proc(slot, "nothing"), dll_proc(slot, 0), dll_proc(7, "add3"));
  log_out("call of 0 %d, of a made-up handle %d", dll_call(0, 1), dll_call(123456, 1));
  a = dll_call(dll_proc(slot, "engine_state"), state);
  log_out("engine state %d: screen %d, depth %d, flags %d", a, state[0], state[1], state[2]);
  dll_unload(slot);
  log_out("call after unload %d", dll_call(f, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1));

  /* headless, a message box is printed and answered with its default button */
  a = mbox(4 + 0x100, "Question", "Continue?");
  b = mbox(0x31, 0, "Warning");
  log_out("mbox: yes/no with the second default %d, ok/cancel %d", a, b);
  exit();
  return 0;
}

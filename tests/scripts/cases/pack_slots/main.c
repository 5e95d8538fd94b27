#include "talven.h"
char back[64];
int handles[17];
int main()
{
  int i, opened, n;
  char text[64] = "packed text packed text packed text";
  log_out("pack_save: %d", pack_save("saved.pak", text, 36));
  opened = 0;
  for (i = 0; i < 16; i++) {
    handles[i] = pack_open("saved.pak");
    if (handles[i] > 0) opened++;
  }
  log_out("opened %d, the 17th: %d", opened, pack_open("saved.pak"));
  log_out("size: %d", pack_size(handles[0]));
  n = pack_read(handles[0], back, 64);
  log_out("read %d: %s", n, back);
  for (i = 0; i < 16; i++) pack_close(handles[i]);
  log_out("after closing, open again: %d", pack_open("saved.pak") > 0);
  return 0;
}

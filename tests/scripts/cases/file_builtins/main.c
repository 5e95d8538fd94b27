#include "talven.h"
char line[64];
int main()
{
  int f, n;
  char save[16] = "level 7";
  char *block;
  /* Streams reach plain files only; data files come through the archive reader. */
  log_out("fopen of an archive member: %d", fopen("game/data/note.txt", "rb"));
  block = mload("game/data/note.txt", 0, 0);
  log_out("mload of it: %d, starts with %c%c%c%c%c", block != 0, block[0], block[1], block[2], block[3], block[4]);

  f = fopen("notes.txt", "w");
  fputs("first line\n", f);
  fputs("second line\n", f);
  log_out("close: %d", fclose(f));
  f = fopen("notes.txt", "r");
  fgets(line, 64, f);
  log_out("read back: %s", line);
  /* Text mode writes line ends as the platform the games come from did: CR LF. */
  fseek(f, 0, 2);
  log_out("length: %d", ftell(f));
  fclose(f);
  log_out("close of a bad handle: %d", fclose(12345));

  /* The system file: bound to a block, saved on request, reloaded on the next binding. */
  /* No save file yet: binding works, loading finds nothing. */
  log_out("sysfile: %d", sysfile("save.dat", save, 16));
  log_out("save: %d", sysio(1));
  save[6] = '9';
  log_out("reload: %d, now %s", sysio(0), save);
  return 0;
}

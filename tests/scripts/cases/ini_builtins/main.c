#include "talven.h"
char text[8];
int main()
{
  int n;
  /* File 0 is the configuration file the engine writes back at exit. */
  log_out("seti: %d", ini_seti("Save", "Stage", 12, 0) != 0);
  log_out("geti: %d", ini_geti("save", "STAGE", -1, 0));
  log_out("geti of a missing key: %d", ini_geti("Save", "Missing", -1, 0));
  log_out("sets: %d", ini_sets("Names", "Hero", "Alexander", "other.ini") != 0);
  n = ini_gets("Names", "Hero", "nobody", text, 8, "other.ini");
  log_out("gets cut to the buffer: %d %s", n, text);
  n = ini_gets("Names", "Villain", "nobody", text, 8, "other.ini");
  log_out("gets default: %d %s", n, text);
  log_out("the engine's own key: %d", ini_geti("General", "FileSystem", 0, 0));
  return 0;
}

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

  /* A null text deletes the key, a null key the whole section; both succeed. */
  ini_sets("Names", "Villain", "Morgana", "other.ini");
  ini_seti("Scores", "Best", 99, "other.ini");
  log_out("sets of a null text: %d", ini_sets("Names", "Hero", 0, "other.ini") != 0);
  log_out("deleted key reads the default: %d", ini_gets("Names", "Hero", "gone", text, 8, "other.ini"));
  log_out("its neighbour stays: %d", ini_gets("Names", "Villain", "gone", text, 8, "other.ini"));
  log_out("sets of a null key: %d", ini_sets("Names", 0, "ignored", "other.ini") != 0);
  log_out("deleted section reads the default: %d", ini_gets("Names", "Villain", "gone", text, 8, "other.ini"));
  log_out("the other section stays: %d", ini_geti("Scores", "Best", -1, "other.ini"));
  log_out("deleting what is not there: %d %d", ini_sets("Names", "Hero", 0, "other.ini") != 0,
          ini_sets("Nothing", 0, 0, "none.ini") != 0);
  n = ini_seti("Scores", "Best", 0, "other.ini") != 0;
  log_out("seti is not a deletion: %d %d", n, ini_geti("Scores", "Best", -1, "other.ini"));
  return 0;
}

#include "talven.h"
char text[64];

void groups(char *label, MATCH *m)
{
  int i;
  log_out("%s: allocated %d groups %d history %d", label, m->allocated >= m->groups, m->groups, m->history);
  for (i = 0; i < m->groups; i++) log_out("  group %d: %d..%d", i, m->begin[i], m->end[i]);
}

int main()
{
  int re, dot, r, n;
  MATCH *m;
  m = match_new();
  log_out("match_new %d", m != 0);
  groups("fresh record", m);

  re = reg_new("([a-z]+)-([0-9]+)", 0);
  strcpy(text, "xx abc-123 yy");
  n = strlen(text);
  r = reg_search(re, text, n, 0, n, m, 0);
  log_out("search at %d", r);
  groups("after search", m);
  log_out("start beyond the length: %d", reg_search(re, text, n, 100, 100, m, 0));
  log_out("range beyond the length: %d", reg_search(re, text, n, 0, 1000, 0, 0));
  log_out("match at 3: %d, at 0: %d", reg_match(re, text, n, 3, m, 0), reg_match(re, text, n, 0, 0, 0));
  groups("after match", m);
  log_out("match_clear %d, of 0: %d", match_clear(m), match_clear(0));
  groups("cleared", m);

  /* Shift_JIS: "." takes a whole double-byte character, and a pattern character matches whole */
  dot = reg_new("\x82\xA0.\x82\xA4", 0);
  strcpy(text, "a\x82\xA0\x82\xA2\x82\xA4z");
  n = strlen(text);
  log_out("double-byte dot: at %d", reg_search(dot, text, n, 0, n, m, 0));
  groups("double-byte", m);
  reg_free(dot);
  dot = reg_new("^a.\x82\xA2", 0);
  log_out("one dot per character: %d", reg_search(dot, text, n, 0, n, 0, 0));
  reg_free(dot);
  /* the trail byte 0x5C of this character is not a backslash to the pattern */
  dot = reg_new("\\\\", 0);
  strcpy(text, "\x95\x5C");
  log_out("no backslash inside a character: %d", reg_search(dot, text, 2, 0, 2, 0, 0));
  strcpy(text, "\x95\x5C\\");
  log_out("a real backslash: %d", reg_search(dot, text, 3, 0, 3, 0, 0));

  log_out("bad pattern %d, null pattern %d", reg_new("(", 0), reg_new(0, 0));
  log_out("reg_free %d, unknown handle %d", reg_free(re), reg_free(9999));
  log_out("freed handle searches: %d", reg_search(re, text, 3, 0, 3, 0, 0));
  log_out("match_free %d", match_free(m));
  exit();
  return 0;
}

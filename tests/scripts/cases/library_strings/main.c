#include "talven.h"
char buf[64];
char text[64];
char part1[16];
char part2[256];
char part3[256];
char part4[256];
int i;

void show(char *label, char *s)
{
  int k, n;
  char hex[200];
  n = strlen(s);
  hex[0] = 0;
  for (k = 0; k < n; k++) sprintf(hex + strlen(hex), "%02x", s[k] & 255);
  log_out("%s: [%s] %d bytes", label, hex, n);
}

int main()
{
  char *end, *p, *copy;
  int number;

  /* three double-byte characters: six bytes, three characters */
  strcpy(text, "\x82\xA0\x82\xA2\x82\xA4");
  log_out("strlen %d strclen %d", strlen(text), strclen(text));
  strcpy(text, "a\x82\xA0z");
  log_out("mixed: strlen %d strclen %d", strlen(text), strclen(text));

  /* strncpy: a double-byte character is copied whole or not at all */
  memset(buf, 120, 8);
  strncpy(buf, text, 3);
  buf[3] = 0;
  show("strncpy 3", buf);
  memset(buf, 120, 8);
  strncpy(buf, text, 2);
  log_out("strncpy 2: first %d second %d third %d", buf[0] & 255, buf[1] & 255, buf[2] & 255);
  memset(buf, 120, 8);
  strncpy(buf, "ab", 5);
  log_out("strncpy pads: %d %d %d %d %d %d", buf[0], buf[1], buf[2], buf[3], buf[4], buf[5]);

  /* strcmp on 16-bit character values, strcmpi with full-width letters folded */
  log_out("strcmp equal %d", strcmp("abc", "abc"));
  log_out("strcmp less %d", strcmp("abc", "abd") < 0);
  log_out("strcmp double-byte above single %d", strcmp("\x82\xA0", "z") > 0);
  log_out("strcmp shorter first %d", strcmp("ab", "abc") < 0);
  log_out("strcmpi ascii %d", strcmpi("Data\\File.BMP", "data\\file.bmp"));
  log_out("strcmpi full-width %d", strcmpi("\x82\x60", "\x82\x81"));
  log_out("strcmpi differs %d", strcmpi("abc", "abd") < 0);

  /* case mapping keeps double-byte characters whole, full-width letters included */
  strcpy(text, "Ab\x82\x60\x82\x81\x83\x9F\x84\x40\x95\x5C");
  strlwr(text);
  show("strlwr", text);
  strupr(text);
  show("strupr", text);

  /* a trail byte is never taken for a character of its own */
  strcpy(text, "\x95\x5C\\x");
  p = strchr(text, 92);
  log_out("strchr backslash at %d", p - text);
  p = strchr(text, 0x955C);
  log_out("strchr double-byte at %d", p - text);
  log_out("strchr missing %d", strchr(text, 65) == 0);
  strcpy(text, "\x82\x60\x60x");
  log_out("strstr position %d", strstr(text, "\x60x") - text);
  log_out("strcspn %d strspn %d", strcspn("hello, world", ", "), strspn("aabbc", "ab"));
  strcpy(text, "xy\x82\xA0z");
  log_out("strpbrk %d", strpbrk(text, "\x82\xA0") - text);

  /* strtok keeps its place between calls */
  strcpy(text, "one, two,,three");
  p = strtok(text, ", ");
  while (p) {
    log_out("token [%s]", p);
    p = strtok(0, ", ");
  }
  log_out("after the end %d", strtok(0, ", ") == 0);

  copy = strdup("duplicate");
  log_out("strdup [%s] freed %d", copy, free(copy));
  copy = strndup("abcdef", 3);
  log_out("strndup [%s] %d", copy, strlen(copy));
  free(copy);

  number = strtol("  -123xyz", &end, 10);
  log_out("strtol %d rest [%s]", number, end);
  log_out("strtol hex %d", strtol("0x1F", 0, 16));
  log_out("strtol saturates %d", strtol("99999999999", 0, 10));
  log_out("strtoul %u", strtoul("4294967295", 0, 10));
  log_out("strtoul negative %u", strtoul("-1", 0, 10));
  ftoa(buf, strtof("2.5e1", &end));
  log_out("strtof %s rest [%s]", buf, end);

  /* sprintf takes the argument words as log_out does: %f takes two words, the double 3.25 here */
  number = sprintf(buf, "%d-%05.1f-%s-%c-%x", 42, 0, 0x400A0000, "str", 65, 255);
  log_out("sprintf [%s] %d", buf, number);
  ftoa(buf, 1.5f);
  log_out("ftoa [%s]", buf);

  splitpath("c:\\games\\data\\file.name.bmp", part1, part2, part3, part4);
  log_out("splitpath [%s] [%s] [%s] [%s]", part1, part2, part3, part4);
  splitpath("\x95\x5C\\readme", part1, part2, part3, part4);
  log_out("splitpath double-byte: dir %d bytes, name [%s], ext [%s]", strlen(part2), part3, part4);
  makepath(text, "d", "save", "slot1", "dat");
  log_out("makepath [%s]", text);
  makepath(text, 0, "save/", "slot2", ".dat");
  log_out("makepath [%s]", text);

  log_out("hash32 a %x", hash32("a"));
  log_out("hash32 empty %d", hash32(""));
  log_out("hash32 abc %x", hash32("abc"));
  exit();
  return 0;
}

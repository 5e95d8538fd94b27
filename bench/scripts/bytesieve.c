/* a byte sieve walked by pointers in nested while loops, then a count of the gaps between primes */
char marks[250000];
int work()
{
  char *p, *q, *end;
  int i, count, gaps, run, round;
  count = 0;
  gaps = 0;
  round = 0;
  end = marks + 250000;
  while (round < 12) {
    p = marks;
    while (p < end) { *p = 0; p++; }
    marks[0] = 1;
    marks[1] = 1;
    i = 2;
    while (i * i < 250000) {
      if (marks[i] == 0) {
        q = marks + i * i;
        while (q < end) { *q = 1; q = q + i; }
      }
      i++;
    }
    count = 0;
    gaps = 0;
    p = marks;
    while (p < end) {
      run = 0;
      while (p < end && *p) { run++; p++; }
      if (run > gaps) gaps = run;
      if (p < end) { count++; p++; }
    }
    round++;
  }
  return count * 100 + gaps;
}

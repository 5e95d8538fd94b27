/*
 * The Talven demo: shows the runtime at work before there is anything to draw.
 * Three threads compute side by side while the main thread keeps time, a note is written to a
 * file and read back, and a run counter is kept in the configuration file. The demo closes itself
 * after a few seconds; its lines go to the debug output (talven --log - games/demo).
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

int main()
{
  int i, runs, f, second;
  char line[80];

  runs = ini_geti("Demo", "Runs", 0, 0) + 1;
  ini_seti("Demo", "Runs", runs, 0);
  log_out("Talven demo, run number %d", runs);

  setcount(0, 0);
  for (i = 1; i <= 3; i++) thd_begin(worker, i, 0, 0);
  while (finished < 3) sleep(10);
  log_out("primes below 30000: %d, fib(24): %d, longest Collatz chain below 20000: %d steps",
          results[1], results[2], results[3]);

  f = fopen("demo-notes.txt", "w");
  fputs("Talven wrote this line.\n", f);
  fclose(f);
  f = fopen("demo-notes.txt", "r");
  fgets(line, 80, f);
  fclose(f);
  log_out("read back from demo-notes.txt: %s", line);

  /* Keep the window up for a few seconds, reporting once a second. */
  for (second = 1; second <= 3; second++) {
    sleep(1000);
    log_out("  %d s", second);
  }
  log_out("goodbye");
  exit();
  return 0;
}

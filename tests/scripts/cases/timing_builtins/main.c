#include "talven.h"
SYSTEMTIME now;
int main()
{
  int v;
  log_out("setcount 256: %d, setcount -1: %d, getcount 256: %d, getcount -1: %d",
          setcount(256, 5), setcount(-1, 5), getcount(256), getcount(-1));
  log_out("setcount 3: %d", setcount(3, 1000));
  v = getcount(3);
  log_out("getcount right after: %d", v >= 1000 && v <= 1010);
  sleep(50);
  v = getcount(3);
  log_out("50 ms later: %d", v >= 1050 && v <= 1500);
  log_out("gettime: %d", gettime(&now));
  log_out("plausible date: %d", now.year >= 2024 && now.month >= 1 && now.month <= 12 && now.day >= 1 &&
          now.day <= 31 && now.hour < 24 && now.minute < 60);
  log_out("fps in the first second: %d", fps());
  return 0;
}

/* loops over an array: loads, stores, compares */
char flags[200000];
int work()
{
  int i, k, count, round;
  count = 0;
  for (round = 0; round < 30; round++) {
    for (i = 0; i < 200000; i++) flags[i] = 1;
    count = 0;
    for (i = 2; i < 200000; i++) {
      if (flags[i]) {
        for (k = i + i; k < 200000; k = k + i) flags[k] = 0;
        count++;
      }
    }
  }
  return count;
}

/* a switch-driven little machine, do/while, continue and break */
int step(int op, int x)
{
  switch (op) {
    case 0: return x + 1;
    case 1: return x * 2;
    case 2: return x - 3;
    case 3: x = x ^ 0x55; break;
    case 7: return -x;
    default: return x + op;
  }
  return x;
}
int main()
{
  int pc, x, n;
  x = 1;
  pc = 0;
  n = 0;
  do {
    if (pc == 5) { pc++; continue; }
    x = step(pc % 9, x) % 100000;
    pc++;
    if (x < -5000) break;
  } while (++n < 500);
  return x + n * 1000;
}

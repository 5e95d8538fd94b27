/* a switch-heavy interpreter loop running a little bytecode program */
int code[16];
int work()
{
  int pc, acc, x, steps;
  code[0] = 1; code[1] = 2; code[2] = 3; code[3] = 4; code[4] = 5; code[5] = 6; code[6] = 7; code[7] = 0;
  acc = 0; x = 1; pc = 0;
  for (steps = 0; steps < 9000000; steps++) {
    switch (code[pc]) {
      case 0: pc = 0; break;
      case 1: acc = acc + x; pc++; break;
      case 2: x = x * 3 % 1000; pc++; break;
      case 3: acc = acc ^ x; pc++; break;
      case 4: if (acc & 1) x++; pc++; break;
      case 5: acc = acc - (x >> 1); pc++; break;
      case 6: acc = acc & 0xfffffff; pc++; break;
      default: x = x + 7; pc++; break;
    }
  }
  return acc + x;
}

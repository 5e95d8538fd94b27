#define F(a, b) ((a) * (b))
#define CAT(n) v##n
int CAT(1) = F(2, 3);
#include "inc.h"
#asm
 raw
#endasm
int main() { switch (v1) { case 6: return 1; default: ; } return 0; }

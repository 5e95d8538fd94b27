#include "talven.h"
int main() { log_out("the game ran"); return 0; }

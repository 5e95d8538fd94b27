#include "talven.h"
int main() { strlen("child"); return 7; }

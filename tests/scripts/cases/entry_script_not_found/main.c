#include "talven.h"
/* Never compiled: FileSystem=1 reads archives only, and the game has no archive. */
int main() { log_out("never printed"); return 0; }

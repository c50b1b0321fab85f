// transc BASENAME [SECTION ...]: placeholder until the command line lands.
#include "encoder/transclib.h"

int main(int argc, char** argv) {
  (void)argc; (void)argv;
  return 0;
}

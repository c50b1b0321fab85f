// untransc BASENAME: placeholder until the decoder lands.
#include "decoder/untransclib.h"

int main(int argc, char** argv) {
  (void)argc; (void)argv;
  return 0;
}

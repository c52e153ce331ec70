// dvr-emulator: a DVR that speaks the viewer's protocol. Until the emulator lands this prints
// what it will be.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("dvr-emulator 0.1");
      return 0;
    }
  }
  std::fputs("dvr-emulator: not built yet; it will serve live cameras, PTZ, audio and notices.\n",
             stderr);
  return 1;
}

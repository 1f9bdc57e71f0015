// gamelib-libinfo: starts the library with its log on, stops it again and prints the
// log it wrote ("Log.txt" in the current directory). Options: --no-sound skips the
// sound system; --keep leaves Log.txt behind.
#include <cstdio>
#include <cstring>

#include "gamelib/gamelib.h"

int main(int argc, char** argv) {
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-sound") == 0) {
      gamelib::SetNoSoundFlag(1);
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: %s [--no-sound] [--keep]\n", argv[0]);
      return 2;
    }
  }
  gamelib::SetOutApplicationLogValidFlag(1);
  int started = gamelib::InitializeLibrary();
  if (started == 0) gamelib::TerminateLibrary();

  std::FILE* log = std::fopen("Log.txt", "rb");
  if (log == nullptr) {
    std::fprintf(stderr, "no Log.txt was written\n");
    return 1;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), log)) > 0) std::fwrite(buffer, 1, n, stdout);
  std::fclose(log);
  if (!keep) std::remove("Log.txt");
  if (started != 0) std::fprintf(stderr, "the library did not start\n");
  return started == 0 ? 0 : 1;
}

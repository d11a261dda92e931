#include <cstdio>
#include <exception>

#include "cli/play.h"

int main(int argc, char** argv) {
  try {
    return tavrin::cli::PlayMain(argc, argv, stdout, stderr, stdin);
  } catch (const std::exception& e) {
    // Out of memory and the like: said, not a crash. The devices have been
    // destroyed on the way here, which closes a real adapter.
    std::fprintf(stderr, "tavrin-play: %s\n", e.what());
    return 1;
  }
}

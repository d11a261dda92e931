#include <cstdio>

#include "cli/play.h"

int main(int argc, char** argv) { return tavrin::cli::PlayMain(argc, argv, stdout, stderr, stdin); }

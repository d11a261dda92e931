#pragma once
#include <cstdio>

namespace tavrin::cli {

// tavrin-play: the window's start-up, the options applied to its controls,
// then "Process SVF File". Gives the exit status: 0 the file ran to its end,
// 1 the run ended early (bail-out, failed check, failed chip call, Break,
// unfinished statement), 2 the run was refused or the command line or a file
// was unusable.
int PlayMain(int argc, const char* const* argv, std::FILE* out, std::FILE* err, std::FILE* terminal);

}  // namespace tavrin::cli

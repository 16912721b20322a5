// velmo: plays and edits MJPG recordings.
#include <iostream>
#include <string>
#include <vector>

#include "player/cli.h"

int main(int argc, char** argv) {
  // The path is taken as given: file names on Linux are case-sensitive.
  const std::vector<std::string> args(argv + 1, argv + argc);
  return player::RunCommandLine(args, std::cout, std::cerr);
}

// brandle: converts MJPG recordings into AVI and Windows Media files.
#include <iostream>
#include <string>
#include <vector>

#include "converter/command_line.h"
#include "converter/encoder_log.h"

int main(int argc, char** argv) {
  converter::QuietEncoderLog();
  return converter::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}

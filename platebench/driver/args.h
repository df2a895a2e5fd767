// Command line and start-up checks.
#pragma once

#include "driver/platebench.h"

#include <ostream>
#include <string>

// Throws std::runtime_error on a bad line; "-h"/"--help" prints the usage and exits 0.
Args parse_args(int argc, char** argv);
void print_usage(std::ostream& out);
// Throws "missing required file: " + path.
void check_file(const std::string& path);

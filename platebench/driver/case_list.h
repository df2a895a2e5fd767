// Case list CSV and plain line lists.
#pragma once

#include "driver/platebench.h"

#include <string>
#include <vector>

// Throws "failed to open input list: " + path.
std::vector<CaseItem> read_input_list(const std::string& path);
// One pass, one inside-quotes flag; every field trimmed.
std::vector<std::string> split_csv_simple(const std::string& line);
// Non-empty trimmed lines in file order; throws "failed to open: " + path.
std::vector<std::string> read_trimmed_lines(const std::string& path);

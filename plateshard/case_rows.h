// A case list read as platebench reads it, keeping each case's line, so that
// shard lists can be cut from it that platebench reads back the same way.
#pragma once

#include "driver/platebench.h"

#include <cstddef>
#include <string>
#include <vector>

struct CaseRow {
    size_t line_no = 0; // 1-based line in the list file
    std::string line;   // trimmed
    CaseItem item;
};

struct CaseRows {
    std::string header; // the header line; empty when the list has none
    std::vector<CaseRow> rows;
};

// The cases of read_input_list, in the same order; throws "failed to open input list: " + path.
CaseRows read_case_rows(const std::string& path);
// The items alone, in list order.
std::vector<CaseItem> case_items(const CaseRows& list);

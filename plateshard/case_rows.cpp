#include "case_rows.h"

#include "driver/case_list.h"
#include "driver/text_util.h"

#include <fstream>
#include <map>
#include <stdexcept>

CaseRows read_case_rows(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("failed to open input list: " + path);

    CaseRows list;
    std::map<std::string, size_t> column;
    bool first_line = true;
    std::string line;
    for (size_t line_no = 1; std::getline(in, line); ++line_no) {
        line = trim(line);
        if (line.empty()) continue;
        const std::vector<std::string> row = split_csv_simple(line);
        if (first_line) {
            first_line = false;
            if (row[0] == "image_path") {
                list.header = line;
                for (size_t i = 0; i < row.size(); ++i) column[row[i]] = i;
                continue;
            }
        }
        // Without a header the columns are positional, which is what a header
        // naming the first three columns in order gives.
        const auto field = [&](const char* name, size_t position) {
            size_t index = position;
            if (!list.header.empty()) {
                const auto it = column.find(name);
                if (it == column.end()) return std::string();
                index = it->second;
            }
            return index < row.size() ? row[index] : std::string();
        };
        CaseRow r;
        r.line_no = line_no;
        r.line = line;
        r.item.image_path = field("image_path", 0);
        r.item.expected = field("expected", 1);
        r.item.group_id = field("group_id", 2);
        if (r.item.image_path.empty()) continue;
        if (r.item.group_id.empty()) r.item.group_id = basename_no_ext(r.item.image_path);
        list.rows.push_back(r);
    }
    return list;
}

std::vector<CaseItem> case_items(const CaseRows& list) {
    std::vector<CaseItem> items;
    items.reserve(list.rows.size());
    for (const auto& r : list.rows) items.push_back(r.item);
    return items;
}

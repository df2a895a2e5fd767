#include "driver/case_list.h"

#include "driver/text_util.h"

#include <fstream>
#include <map>
#include <stdexcept>

std::vector<std::string> split_csv_simple(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.push_back(trim(field));
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(trim(field));
    return fields;
}

std::vector<CaseItem> read_input_list(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("failed to open input list: " + path);

    std::vector<CaseItem> items;
    std::vector<std::string> header;
    std::map<std::string, size_t> column;
    bool first_line = true;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty()) continue;
        const std::vector<std::string> row = split_csv_simple(line);

        if (first_line) {
            first_line = false;
            if (!row.empty() && row[0] == "image_path") {
                header = row;
                for (size_t i = 0; i < header.size(); ++i) column[header[i]] = i;
                continue;
            }
        }

        CaseItem item;
        if (header.empty()) {
            if (row.size() > 0) item.image_path = row[0];
            if (row.size() > 1) item.expected = row[1];
            if (row.size() > 2) item.group_id = row[2];
        } else {
            const auto field = [&](const char* name, std::string& out) {
                const auto it = column.find(name);
                if (it != column.end() && it->second < row.size()) out = row[it->second];
            };
            field("image_path", item.image_path);
            field("expected", item.expected);
            field("group_id", item.group_id);
        }

        if (item.image_path.empty()) continue;
        if (item.group_id.empty()) item.group_id = basename_no_ext(item.image_path);
        items.push_back(item);
    }
    return items;
}

std::vector<std::string> read_trimmed_lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("failed to open: " + path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

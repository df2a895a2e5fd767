#include "csv_table.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string& name, int line, const std::string& what) {
    throw std::runtime_error("malformed csv: " + name + ": line " + std::to_string(line) + ": " + what);
}

std::string join_header(const std::vector<std::string>& fields) {
    std::string s;
    for (size_t i = 0; i < fields.size(); ++i) s += (i ? "," : "") + fields[i];
    return s;
}

} // namespace

std::vector<CsvRecord> parse_csv_records(const std::string& text, const std::string& name) {
    std::vector<CsvRecord> records;
    std::vector<std::string> record;
    std::string field;
    int line = 1;
    int record_line = 1;
    size_t i = 0;
    const size_t n = text.size();
    bool at_record_start = true;
    while (i < n) {
        if (at_record_start) {
            record_line = line;
            at_record_start = false;
        }
        field.clear();
        if (text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                const char c = text[i];
                if (c == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                if (c == '\n') ++line;
                field += c;
                ++i;
            }
            if (!closed) fail(name, record_line, "unterminated quoted field");
            if (i < n && text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
            if (i < n && text[i] != ',' && text[i] != '\n') fail(name, line, "text after a closing quote");
        } else {
            while (i < n && text[i] != ',' && text[i] != '\n') {
                if (text[i] == '"') fail(name, line, "quote inside an unquoted field");
                field += text[i];
                ++i;
            }
            // Tolerate CRLF line ends from tables edited on other systems.
            if (i < n && text[i] == '\n' && !field.empty() && field.back() == '\r') field.pop_back();
        }
        record.push_back(field);
        if (i < n && text[i] == ',') {
            ++i;
            // A comma at the very end still opens one last, empty field.
            if (i == n) record.emplace_back();
            continue;
        }
        if (i < n) {
            ++i;
            ++line;
        }
        records.push_back({record, record_line});
        record.clear();
        at_record_start = true;
    }
    if (!record.empty()) records.push_back({record, record_line});
    return records;
}

CsvTable read_csv_table(const std::string& path, const std::vector<std::string>& expected_header) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("failed to open: " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    std::vector<CsvRecord> records = parse_csv_records(ss.str(), path);
    if (records.empty()) fail(path, 1, "no header line");
    CsvTable table;
    table.header = records.front().fields;
    if (table.header != expected_header)
        fail(path, 1, "header is \"" + join_header(table.header) + "\", expected \"" + join_header(expected_header) + "\"");
    for (size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& fields = records[r].fields;
        if (fields.size() != expected_header.size())
            fail(path, records[r].line,
                 std::to_string(fields.size()) + " fields, expected " + std::to_string(expected_header.size()));
        table.rows.push_back(fields);
    }
    return table;
}

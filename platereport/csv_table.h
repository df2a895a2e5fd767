// A CSV reader for the tables platebench writes: fields are quoted only when
// they hold a comma, a double quote, CR or LF; inner quotes are doubled, and a
// quoted field may run over several lines.
#pragma once

#include <string>
#include <vector>

struct CsvRecord {
    std::vector<std::string> fields;
    int line = 0; // line on which the record starts, from 1
};

struct CsvTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

// Splits text into records. `name` goes into error messages. Throws
// "malformed csv: " + name + detail for an unterminated quote, a quote inside an
// unquoted field, bytes after a closing quote, or text without a header line.
std::vector<CsvRecord> parse_csv_records(const std::string& text, const std::string& name);

// Reads a table whose header must equal `expected_header` and whose rows all have
// as many fields as the header. Throws "failed to open: " + path, or
// "malformed csv: " + path + detail.
CsvTable read_csv_table(const std::string& path, const std::vector<std::string>& expected_header);

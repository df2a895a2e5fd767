#include "frame_table.h"

CsvRecords split_csv_records(const std::string& content) {
    CsvRecords out;
    CsvRecord record;
    std::string field;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (quoted) {
            if (c != '"') field += c;
            else if (i + 1 < content.size() && content[i + 1] == '"') field += content[++i];
            else quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            record.fields.push_back(std::move(field));
            field.clear();
            record.offset = start;
            record.length = i + 1 - start;
            out.records.push_back(std::move(record));
            record = CsvRecord();
            start = i + 1;
        } else {
            field += c;
        }
    }
    out.truncated = start < content.size();
    return out;
}

// Reading back the frame table (frame_summary.csv) that a platebench run wrote.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The columns of frame_summary.csv, in order.
enum FrameColumn {
    kGroupId, kImagePath, kExpected, kPlateText, kStatus, kRegion, kClassNo, kKana, kSerial, kOcrTexts,
    kFrameColumns
};

struct CsvRecord {
    size_t offset = 0; // where the record begins in the content
    size_t length = 0; // its bytes as written, line feed included
    std::vector<std::string> fields;
};

struct CsvRecords {
    std::vector<CsvRecord> records;
    bool truncated = false; // the last record has no line feed or leaves a quote open
};

// Splits what csv_escape wrote: a quoted field may hold commas, line feeds and
// doubled quotes. Fields are not trimmed.
CsvRecords split_csv_records(const std::string& content);

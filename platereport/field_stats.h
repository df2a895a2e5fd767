// Per-field comparison of expected and read plates: a plate text is region,
// class number, kana and serial separated by white space.
#pragma once

#include "run_tree.h"

#include <array>
#include <string>
#include <vector>

using PlateParts = std::array<std::string, 4>; // region, class number, kana, serial

extern const std::array<const char*, 4> field_names;

// The four fields of an expected text, or false when it does not have exactly four
// white-space separated fields.
bool split_plate_text(const std::string& text, PlateParts& parts);
PlateParts read_parts(const FrameRow& frame);
PlateParts read_parts(const GroupRow& group);

struct Confusion {
    std::string expected;
    std::string read; // empty: the field was not read
    long count = 0;
};

struct FieldStats {
    long matched = 0;
    std::vector<Confusion> confusions; // most frequent first, then byte order
};

struct FieldReport {
    long with_expectation = 0; // frames whose expected text is not blank
    long compared = 0;         // of those, the frames whose expectation has four fields
    long plates_matched = 0;   // of those compared, frames with status "correct"
    std::array<FieldStats, 4> fields;
};

FieldReport field_report(const std::vector<FrameRow>& frames);

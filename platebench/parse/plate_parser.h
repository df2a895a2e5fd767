// Weighted voting of OCR candidates into plate fields.
#pragma once

#include "driver/vote.h"
#include "ocr/ocr_types.h"
#include "parse/plate_fields.h"

#include <string>
#include <vector>

PlateFields parse_jp_plate(const std::vector<OcrText>& texts, const std::vector<std::string>& region_words);

// Vote totals per field, before selection and the class/serial exchange.
struct PlateVotes {
    VoteTable region;
    VoteTable class_no;
    VoteTable kana;
    VoteTable serial;
};

PlateVotes tally_plate_votes(const std::vector<OcrText>& texts, const std::vector<std::string>& region_words);

std::vector<std::string> extract_digit_runs(const std::string& s);
std::string digits_only(const std::string& s);
// Four digits become "12-34"; anything else is the digit string unchanged.
std::string format_serial(const std::string& s);

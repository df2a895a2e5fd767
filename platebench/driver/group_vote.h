// Group voting and the final reports.
#pragma once

#include "driver/platebench.h"

#include <cstdint>
#include <string>
#include <vector>

// Most frequent non-empty value; ties to the byte-wise smallest; "" when none.
std::string vote_string(const std::vector<std::string>& values);
// Fields voted independently over the group's frames; expectation of the first frame.
GroupResult vote_group(const std::vector<FrameResult>& frames);

struct RunTotals {
    int32_t frame_total = 0;
    int32_t frame_correct = 0;
    int32_t frame_check_or_failed = 0;
    int32_t group_total = 0;
    int32_t group_correct = 0;
    int32_t group_check_or_failed = 0;
};

std::string group_summary_header();
std::string group_summary_row(const GroupResult& group, const std::string& status);
std::string final_result_json(const std::string& input_mode, bool use_plate_det, const RunTotals& totals,
                              const std::string& output_dir);
std::string final_block(const std::string& input_mode, bool use_plate_det, const RunTotals& totals,
                        const std::string& output_dir);

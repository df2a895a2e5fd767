// The group stage after the last frame: the group table and its counters.
#pragma once

#include "driver/platebench.h"

#include <cstdint>
#include <string>
#include <vector>

struct GroupReport {
    std::string summary_csv; // header and one row per group, groups in byte-wise order
    int32_t group_total = 0;
    int32_t group_correct = 0;
    int32_t group_check_or_failed = 0;
};

// Frames are gathered by group_id keeping case order, then each group voted and judged.
GroupReport group_report(const std::vector<FrameResult>& frames);

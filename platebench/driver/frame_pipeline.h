// One case through the whole recognition chain.
#pragma once

#include "driver/model_setup.h"
#include "driver/platebench.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

struct FrameOutcome {
    FrameResult frame;
    std::string status; // "correct", "check" or "unknown"
};

// "unknown" without an expectation, else "correct" when both texts are equal
// once space, tab, CR and LF bytes are removed, else "check".
std::string plate_status(const std::string& expected, const std::string& plate_text);

// The region with its corners: circle k under the line leaving it, corners
// rounded half to even.
cv::Mat draw_corner_debug(const cv::Mat& roi, const std::vector<cv::Point2f>& corners);

// Runs case number index (from 0) of total into case_dir, which must exist.
// Writes the case's pictures; the result files are the caller's.
FrameOutcome process_case(const CaseItem& item, size_t index, size_t total, const std::string& case_dir,
                          const Args& args, bool use_plate_det, PlateModels& models,
                          const std::vector<std::string>& region_words, const std::vector<std::string>& dict);

// Search for a missing kana over 100 kana-area pictures.
#pragma once

#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

std::string run_kana_fallback(RknnModel& model, const cv::Mat& rectified, const cv::Mat& roi,
                              const std::vector<std::string>& dict, const std::string& case_dir);

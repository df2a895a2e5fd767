// Debug pictures: JPEG with default parameters; a failed write is ignored.
#pragma once

#include <opencv2/core.hpp>

#include <string>

void write_debug_picture(const std::string& path, const cv::Mat& picture);

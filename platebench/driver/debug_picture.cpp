#include "driver/debug_picture.h"

#include "driver/profile.h"

#include <opencv2/imgcodecs.hpp>

void write_debug_picture(const std::string& path, const cv::Mat& picture) {
    ProfileScope timed("debug_jpeg");
    cv::imwrite(path, picture);
}

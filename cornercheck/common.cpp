#include "common.h"

#include <opencv2/imgproc.hpp>

#include <fstream>
#include <stdexcept>

namespace orvex {

cv::Mat ResizeToModel(const cv::Mat& picture, int w, int h, bool to_rgb) {
    cv::Mat resized;
    cv::resize(picture, resized, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    if (to_rgb) cv::cvtColor(resized, resized, cv::COLOR_BGR2RGB);
    return resized;
}

cv::Mat WarpPlate(const cv::Mat& picture, const PlateCorners& corners, int w, int h) {
    const cv::Point2f src[4] = {corners.lt, corners.rt, corners.rb, corners.lb};
    const float right = static_cast<float>(w - 1);
    const float bottom = static_cast<float>(h - 1);
    const cv::Point2f dst[4] = {{0.0f, 0.0f}, {right, 0.0f}, {right, bottom}, {0.0f, bottom}};
    const cv::Mat transform = cv::getPerspectiveTransform(src, dst);
    cv::Mat rectified;
    cv::warpPerspective(picture, rectified, transform, cv::Size(w, h), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return rectified;
}

std::vector<std::string> LoadDict(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("failed to open dict: " + path);
    std::vector<std::string> entries;
    std::string line;
    while (std::getline(in, line)) {
        // Dictionaries written on Windows end their lines in CR LF.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) entries.push_back(line);
    }
    return entries;
}

} // namespace orvex

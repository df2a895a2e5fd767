#include "corner_check.h"

#include "common.h"
#include "rknn_model.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

namespace cornercheck {
namespace {

constexpr int kModelInputW = 256;
constexpr int kModelInputH = 128;
constexpr int kRectifiedW = 320;
constexpr int kRectifiedH = 160;

const char* const kSavedFiles[] = {"/roi.jpg", "/corner_debug.jpg", "/rectified_plate.jpg",
                                   "/kana_left_lower_wide.jpg", "/result.txt"};

bool InRange(float v, float lo, float hi) { return std::isfinite(v) && v >= lo && v <= hi; }

// Nearest pixel, halves away from zero. Coordinates are unchecked model
// output, so non-numbers and far-off values are pinned well outside any
// picture instead of overflowing the integer conversion.
int DrawPixel(float v) {
    constexpr float kFar = 1 << 24;
    if (!(v >= -kFar)) return -static_cast<int>(kFar);
    if (v > kFar) return static_cast<int>(kFar);
    return static_cast<int>(std::lround(v));
}

void PrintUsage(const std::string& prog) {
    std::cerr << "Usage:\n"
              << "  " << prog << " plate_corner.rknn roi_or_plate_image.jpg output_dir [input_w input_h]\n\n"
              << "Example:\n"
              << "  " << prog << " models/plate_corner.rknn samples/real_003.jpg output/real_003\n";
}

void PrintReport(const std::string& image_path, const std::string& out_dir, const std::vector<float>& values,
                 const orvex::PlateCorners& corners, int w, int h, bool valid) {
    std::cout << "image: " << image_path << "\n";
    std::cout << "roi_size: " << w << "x" << h << "\n";
    std::cout << "raw output:";
    for (size_t i = 0; i < values.size() && i < 8; ++i) std::cout << " " << values[i];
    std::cout << "\n";
    std::cout << "corners:\n";
    std::cout << "  lt: " << corners.lt.x << ", " << corners.lt.y << "\n";
    std::cout << "  rt: " << corners.rt.x << ", " << corners.rt.y << "\n";
    std::cout << "  rb: " << corners.rb.x << ", " << corners.rb.y << "\n";
    std::cout << "  lb: " << corners.lb.x << ", " << corners.lb.y << "\n";
    std::cout << "corner_area: " << CornerArea(corners) << "\n";
    std::cout << "corners_valid: " << (valid ? "true" : "false") << "\n";
    std::cout << "saved:\n";
    for (const char* name : kSavedFiles) std::cout << "  " << out_dir << name << "\n";
}

// Regular files only (a FIFO would block the read); a header declaring more
// pixels than the decoder accepts throws inside OpenCV.
cv::Mat ReadPicture(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return cv::Mat();
    try {
        return cv::imread(path, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

} // namespace

float CornerArea(const orvex::PlateCorners& c) {
    const std::vector<cv::Point2f> polygon = {c.lt, c.rt, c.rb, c.lb};
    return static_cast<float>(std::abs(cv::contourArea(polygon)));
}

bool CornersLookValid(const orvex::PlateCorners& c, int w, int h) {
    // Single-precision limits: a coordinate exactly on one passes.
    const float fw = static_cast<float>(w);
    const float fh = static_cast<float>(h);
    const float x_lo = -0.3f * fw, x_hi = 1.3f * fw;
    const float y_lo = -0.3f * fh, y_hi = 1.3f * fh;
    for (const cv::Point2f& p : {c.lt, c.rt, c.rb, c.lb})
        if (!InRange(p.x, x_lo, x_hi) || !InRange(p.y, y_lo, y_hi)) return false;

    if (CornerArea(c) < (fw * 0.05f) * fh) return false;

    return c.lt.x < c.rt.x && c.lb.x < c.rb.x && c.lt.y < c.lb.y && c.rt.y < c.rb.y;
}

cv::Mat DrawPlateCorners(const cv::Mat& picture, const orvex::PlateCorners& corners) {
    const cv::Scalar red(0, 0, 255);
    const cv::Scalar green(0, 255, 0);
    cv::Mat debug = picture.clone();
    std::vector<cv::Point> points;
    for (const cv::Point2f& corner : {corners.lt, corners.rt, corners.rb, corners.lb}) {
        const cv::Point p(DrawPixel(corner.x), DrawPixel(corner.y));
        cv::circle(debug, p, 5, red, cv::FILLED, cv::LINE_8);
        cv::putText(debug, std::to_string(points.size()), p + cv::Point(8, 8), cv::FONT_HERSHEY_SIMPLEX, 0.7, red, 2,
                    cv::LINE_8);
        points.push_back(p);
    }
    cv::polylines(debug, points, true, green, 2, cv::LINE_8);
    return debug;
}

cv::Mat CropKanaLeftLowerWide(const cv::Mat& picture) {
    const int w = picture.cols;
    const int h = picture.rows;
    // Upper bound first, then lower, so the area is never empty.
    auto clamp = [](double v, int lo, int hi) { return std::max(std::min(static_cast<int>(v), hi), lo); };
    const int x0 = clamp(std::round(w * 0.03), 0, w - 1);
    const int y0 = clamp(std::round(h * 0.38), 0, h - 1);
    const int x1 = clamp(std::round(w * 0.34), x0 + 1, w);
    const int y1 = clamp(std::round(h * 0.92), y0 + 1, h);
    return picture(cv::Rect(x0, y0, x1 - x0, y1 - y0)).clone();
}

bool WriteResultText(const std::string& path, const std::string& image_path, const std::vector<float>& values,
                     const orvex::PlateCorners& corners, int w, int h, bool valid) {
    std::ofstream out(path, std::ios::trunc);
    if (!out) return false;
    out << "image_path=" << image_path << "\n";
    out << "roi_size=" << w << "x" << h << "\n";
    out << "raw_output=";
    for (size_t i = 0; i < values.size() && i < 8; ++i) out << (i ? "," : "") << values[i];
    out << "\n";
    out << "corners_lt=" << corners.lt.x << "," << corners.lt.y << "\n";
    out << "corners_rt=" << corners.rt.x << "," << corners.rt.y << "\n";
    out << "corners_rb=" << corners.rb.x << "," << corners.rb.y << "\n";
    out << "corners_lb=" << corners.lb.x << "," << corners.lb.y << "\n";
    out << "corner_area=" << CornerArea(corners) << "\n";
    out << "corners_valid=" << (valid ? "true" : "false") << "\n";
    out << "rectified_plate=rectified_plate.jpg\n";
    out << "corner_debug=corner_debug.jpg\n";
    out << "kana_crop=kana_left_lower_wide.jpg\n";
    out.close();
    return !out.fail();
}

void EnsureDir(const std::string& dir) {
    // No shell: the name may hold quotes, "$(...)" or backquotes.
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) std::cerr << "warning: mkdir failed for " << dir << ", ret=" << ec.value() << "\n";
}

int RunCornerCheck(const std::vector<std::string>& args) {
    const std::string prog = args.empty() ? std::string("cornercheck") : args[0];
    if (args.size() < 4) {
        PrintUsage(prog);
        return kExitUsage;
    }
    const std::string& model_path = args[1];
    const std::string& image_path = args[2];
    const std::string& out_dir = args[3];
    int input_w = kModelInputW;
    int input_h = kModelInputH;
    if (args.size() >= 6) {
        input_w = std::atoi(args[4].c_str());
        input_h = std::atoi(args[5].c_str());
        // atoi gives 0 for text that is no number; OpenCV cannot resize to it.
        if (input_w <= 0 || input_h <= 0) {
            std::cerr << "invalid model input size: " << args[4] << " " << args[5] << "\n";
            return kExitUsage;
        }
    }

    EnsureDir(out_dir);

    const cv::Mat picture = ReadPicture(image_path);
    if (picture.empty()) {
        std::cerr << "failed to read image: " << image_path << "\n";
        return kExitImage;
    }

    orvex::RKNNModel model;
    bool loaded = false;
    try {
        loaded = model.Load(model_path);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
    }
    if (!loaded) {
        std::cerr << "failed to load plate corner RKNN model: " << model_path << "\n";
        return kExitModel;
    }

    std::vector<std::vector<float>> outputs;
    bool ran = false;
    try {
        ran = model.RunImage(picture, outputs, input_w, input_h, false);
    } catch (const std::exception& e) {
        // A model input too large to allocate.
        std::cerr << e.what() << "\n";
    }
    if (!ran) {
        std::cerr << "plate corner rknn inference failed\n";
        return kExitInference;
    }
    if (outputs.empty() || outputs[0].size() <= 7) {
        std::cerr << "invalid plate corner output size: " << (outputs.empty() ? 0 : outputs[0].size()) << "\n";
        return kExitOutputSize;
    }

    const std::vector<float>& values = outputs[0];
    const int w = picture.cols;
    const int h = picture.rows;
    const orvex::PlateCorners corners = orvex::DecodePlateCorners(values, w, h);
    const bool valid = CornersLookValid(corners, w, h);
    const cv::Mat rectified = orvex::WarpPlate(picture, corners, kRectifiedW, kRectifiedH);
    const cv::Mat debug = DrawPlateCorners(picture, corners);
    const cv::Mat kana = CropKanaLeftLowerWide(picture);

    cv::imwrite(out_dir + "/roi.jpg", picture);
    cv::imwrite(out_dir + "/corner_debug.jpg", debug);
    cv::imwrite(out_dir + "/rectified_plate.jpg", rectified);
    cv::imwrite(out_dir + "/kana_left_lower_wide.jpg", kana);
    if (!WriteResultText(out_dir + "/result.txt", image_path, values, corners, w, h, valid)) {
        std::cerr << "[ERROR] failed to write file: " << out_dir << "/result.txt\n";
        return kExitWrite;
    }

    PrintReport(image_path, out_dir, values, corners, w, h, valid);
    return valid ? kExitValid : kExitNotValid;
}

} // namespace cornercheck

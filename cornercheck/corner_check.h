#pragma once

#include "lpr_pipeline.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// The steps of the cornercheck program, apart from its thin main so that they
// can be tested without running the binary.
namespace cornercheck {

// Exit codes of the program.
enum ExitCode {
    kExitValid = 0,
    kExitUsage = 1,
    kExitImage = 2,
    kExitModel = 3,
    kExitInference = 4,
    kExitOutputSize = 5,
    kExitWrite = 6, // the result record could not be written whole
    kExitNotValid = 10,
};

// Area of the quadrilateral lt, rt, rb, lb; never negative.
float CornerArea(const orvex::PlateCorners& corners);

// Corners within 30 % of the w by h picture around it, enclosing at least 5 %
// of it, and left of right and top above bottom.
bool CornersLookValid(const orvex::PlateCorners& corners, int w, int h);

// Copy of the picture with the corners marked, numbered 0 to 3 and joined.
cv::Mat DrawPlateCorners(const cv::Mat& picture, const orvex::PlateCorners& corners);

// Deep copy of the lower-left area where the kana sits; at least 1 by 1.
cv::Mat CropKanaLeftLowerWide(const cv::Mat& picture);

// The key=value result record; false when it could not be written whole.
bool WriteResultText(const std::string& path, const std::string& image_path, const std::vector<float>& values,
                     const orvex::PlateCorners& corners, int w, int h, bool valid);

// Creates the directory and its parents; a failure is only a warning on
// standard error.
void EnsureDir(const std::string& dir);

// The whole program; args[0] is the invocation name. Returns the exit code.
int RunCornerCheck(const std::vector<std::string>& args);

} // namespace cornercheck

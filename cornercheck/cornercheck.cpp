// cornercheck: runs the plate-corner model on one plate picture, judges the
// corners and writes the rectified plate, the kana area and a result record.
#include "corner_check.h"

#include <opencv2/core/utils/logger.hpp>

#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Standard error carries this program's own messages, not OpenCV's
    // warnings (imread warns about a missing file before we report it).
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    return cornercheck::RunCornerCheck(std::vector<std::string>(argv, argv + argc));
}

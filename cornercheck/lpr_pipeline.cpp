#include "lpr_pipeline.h"

#include <cmath>

namespace orvex {

PlateCorners DecodePlateCorners(const std::vector<float>& values, int w, int h) {
    PlateCorners corners;
    if (values.size() < 8 || w <= 0 || h <= 0) return corners;

    // One decision for all eight values: a model emits either normalised
    // coordinates or pixels, never a mix.
    float largest = values[0];
    for (size_t i = 1; i < 8; ++i)
        if (values[i] > largest) largest = values[i];
    const bool normalised = std::isfinite(largest) && largest <= 2.0f;
    const float sx = normalised ? static_cast<float>(w) : 1.0f;
    const float sy = normalised ? static_cast<float>(h) : 1.0f;

    cv::Point2f* const order[4] = {&corners.lt, &corners.rt, &corners.rb, &corners.lb};
    for (size_t i = 0; i < 4; ++i) *order[i] = cv::Point2f(values[2 * i] * sx, values[2 * i + 1] * sy);
    return corners;
}

} // namespace orvex

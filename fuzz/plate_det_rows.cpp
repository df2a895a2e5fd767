// Six-value detection rows: any values, scene sizes and thresholds.
#include "fuzz_bytes.h"
#include "locate/plate_det.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in(data, size);
    const int img_w = static_cast<int>(in.take_in(1, 20000));
    const int img_h = static_cast<int>(in.take_in(1, 20000));
    const float thresh = in.take<float>();
    const std::vector<float> values = in.take_floats(6 * 512);
    const std::vector<PlateDetection> found = parse_detection_output_as_n6(values, img_w, img_h, thresh);

    const cv::Rect scene(0, 0, img_w, img_h);
    for (size_t i = 0; i < found.size(); ++i) {
        const cv::Rect& b = found[i].box;
        // Every box lies inside the scene and passed the size test.
        if ((b & scene) != b || b.width < 10 || b.height < 10) std::abort();
        if (i > 0 && found[i - 1].score < found[i].score) std::abort();
    }
    if (found.size() > values.size() / 6) std::abort();
    return 0;
}

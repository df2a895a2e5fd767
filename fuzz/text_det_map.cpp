// Text-detection post-processing on any map, threshold and picture size.
#include "fuzz_bytes.h"
#include "ocr/text_detection.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in(data, size);
    const int image_w = static_cast<int>(in.take_in(1, 4000));
    const int image_h = static_cast<int>(in.take_in(1, 4000));
    const float thresh = in.take<float>();
    const std::vector<float> values = in.take_floats(160 * 160);

    const cv::Mat mask = det_mask_from_map(values, thresh);
    if (mask.empty()) {
        if (det_map_side(static_cast<int>(values.size())) != 0) std::abort();
        return 0;
    }
    if (mask.type() != CV_8U || mask.rows != mask.cols) std::abort();
    const std::vector<TextBox> boxes = det_boxes_from_mask(mask, image_w, image_h);
    if (boxes.size() > 16) std::abort();
    const cv::Rect picture(0, 0, image_w, image_h);
    for (const TextBox& b : boxes)
        if ((b.rect & picture) != b.rect || b.rect.width <= 7 || b.rect.height <= 7) std::abort();
    return 0;
}

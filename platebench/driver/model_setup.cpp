#include "driver/model_setup.h"

#include <cstdint>
#include <iostream>

void load_models(const Args& args, bool use_plate_det, PlateModels& models) {
    if (use_plate_det) models.plate_det.load(args.plate_det_model);
    models.plate_corner.load(args.plate_corner_model);
    models.text_det.load(args.ppocr_det_model);
    models.text_rec.load(args.ppocr_rec_model);
}

void reconcile_ocr_dict(const RknnModel& text_rec, std::vector<std::string>& dict) {
    const rknn_tensor_attr& attr = text_rec.output_attrs().at(0);
    const int32_t classes = attr.n_dims == 0 ? 0 : static_cast<int32_t>(attr.dims[attr.n_dims - 1]);
    if (classes <= 0) return;

    if (static_cast<int64_t>(classes) == static_cast<int64_t>(dict.size()) + 2) {
        dict.push_back(" ");
        std::cerr << "[WARN] OCR dict was missing one char; appended half-width space in memory.\n";
    }
    std::cerr << "[INFO] rec_classes=" << classes << " ocr_chars_after_shape_check=" << dict.size()
              << " expected_chars=" << (classes - 1) << "\n";
    if (static_cast<int64_t>(classes) != static_cast<int64_t>(dict.size()) + 1)
        std::cerr << "[WARN] OCR dict size still does not match rec output classes. CTC decode may be wrong.\n";
}

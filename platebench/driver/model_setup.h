// Loading the four models and matching the OCR dictionary to the recogniser.
#pragma once

#include "driver/platebench.h"
#include "npu/rknn_model.h"

#include <string>
#include <vector>

struct PlateModels {
    RknnModel plate_det; // loaded only when the detector is used
    RknnModel plate_corner;
    RknnModel text_det;
    RknnModel text_rec;
};

// Loads in the fixed order: detector (if used), corners, text detector, recogniser.
void load_models(const Args& args, bool use_plate_det, PlateModels& models);

// May append one " " entry when the recogniser has exactly one class more than
// the dictionary explains; any other mismatch is only warned about.
void reconcile_ocr_dict(const RknnModel& text_rec, std::vector<std::string>& dict);

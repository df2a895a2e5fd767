// Run-wide records of platebench.
#pragma once

#include "ocr/ocr_types.h"
#include "parse/plate_fields.h"

#include <cstdint>
#include <string>
#include <vector>

struct Args {
    std::string input_mode = "roi";
    std::string plate_det_model = "models/rknn/plate_det.rknn";
    std::string plate_corner_model = "models/rknn/plate_corner.rknn";
    std::string ppocr_det_model = "models/rknn/ppocrv6_det.rknn";
    std::string ppocr_rec_model = "models/rknn/ppocrv6_rec.rknn";
    std::string dict_region = "dict/region_words.txt";
    std::string ocr_dict = "dict/ppocrv6_rec_dict.txt";
    std::string input_list = "samples/real_lpr/real_lpr_expected.csv";
    std::string output_dir = "output/v21_product_validation";
    float plate_det_thresh = 0.25f;
    bool fail_on_error = false;
};

struct CaseItem {
    std::string image_path;
    std::string expected; // empty: no expectation
    std::string group_id;
};

struct FrameResult {
    std::string image_path;
    std::string expected;
    std::string group_id;
    PlateFields plate;
    std::vector<OcrText> texts;
};

struct GroupResult {
    std::string group_id;
    std::string expected; // the group's first frame's
    PlateFields plate;
    int32_t frame_count = 0;
};

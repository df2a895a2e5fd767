#include "driver/args.h"
#include "driver/case_list.h"
#include "driver/model_setup.h"
#include "driver/text_util.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    try {
        const Args args = parse_args(argc, argv);

        for (const std::string* path : {&args.plate_corner_model, &args.ppocr_det_model, &args.ppocr_rec_model,
                                        &args.dict_region, &args.ocr_dict, &args.input_list})
            check_file(*path);

        bool use_plate_det = false;
        if (args.input_mode == "frame") use_plate_det = true;
        else if (args.input_mode == "auto") use_plate_det = file_exists(args.plate_det_model);
        if (use_plate_det) check_file(args.plate_det_model);

        ensure_dir(args.output_dir);
        ensure_dir(args.output_dir + "/cases");

        const std::vector<std::string> region_words = read_trimmed_lines(args.dict_region);
        std::vector<std::string> ocr_dict = read_trimmed_lines(args.ocr_dict);
        const std::vector<CaseItem> cases = read_input_list(args.input_list);

        std::cerr << "[INFO] input_mode=" << args.input_mode << "\n"
                  << "[INFO] use_plate_det=" << (use_plate_det ? "true" : "false") << "\n"
                  << "[INFO] cases=" << cases.size() << "\n"
                  << "[INFO] region_words=" << region_words.size() << "\n"
                  << "[INFO] ocr_chars_loaded=" << ocr_dict.size() << "\n";

        PlateModels models;
        load_models(args, use_plate_det, models);
        reconcile_ocr_dict(models.text_rec, ocr_dict);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "[ERROR] " << e.what() << "\n";
        return 1;
    }
}

#include "driver/args.h"

#include "driver/text_util.h"

#include <cstdlib>
#include <iostream>
#include <stdexcept>

void print_usage(std::ostream& out) {
    out << "Usage: platebench [options]\n"
        << "  --input-mode roi|frame|auto\n"
        << "  --plate-det-model models/rknn/plate_det.rknn\n"
        << "  --plate-corner-model models/rknn/plate_corner.rknn\n"
        << "  --ppocr-det-model models/rknn/ppocrv6_det.rknn\n"
        << "  --ppocr-rec-model models/rknn/ppocrv6_rec.rknn\n"
        << "  --dict-region dict/region_words.txt\n"
        << "  --ocr-dict dict/ppocrv6_rec_dict.txt\n"
        << "  --input-list samples/real_lpr/real_lpr_expected.csv\n"
        << "  --output-dir output/v21_product_validation\n";
}

Args parse_args(int argc, char** argv) {
    Args args;
    struct ValueOption {
        const char* name;
        std::string Args::*field;
    };
    static const ValueOption value_options[] = {
        {"--input-mode", &Args::input_mode},
        {"--plate-det-model", &Args::plate_det_model},
        {"--plate-corner-model", &Args::plate_corner_model},
        {"--ppocr-det-model", &Args::ppocr_det_model},
        {"--ppocr-rec-model", &Args::ppocr_rec_model},
        {"--dict-region", &Args::dict_region},
        {"--ocr-dict", &Args::ocr_dict},
        {"--input-list", &Args::input_list},
        {"--output-dir", &Args::output_dir},
    };

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto take_value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value for " + arg);
            return argv[++i];
        };

        bool matched = false;
        for (const auto& opt : value_options) {
            if (arg == opt.name) {
                args.*opt.field = take_value();
                matched = true;
                break;
            }
        }
        if (matched) continue;

        if (arg == "--plate-det-thresh") {
            args.plate_det_thresh = static_cast<float>(std::atof(take_value().c_str()));
        } else if (arg == "--fail-on-error") {
            args.fail_on_error = true;
        } else if (arg == "-h" || arg == "--help") {
            print_usage(std::cout);
            std::cout.flush();
            std::exit(0);
        } else {
            throw std::runtime_error("unknown argument: " + arg);
        }
    }

    if (args.input_mode != "roi" && args.input_mode != "frame" && args.input_mode != "auto")
        throw std::runtime_error("--input-mode must be roi, frame, or auto");
    return args;
}

void check_file(const std::string& path) {
    if (!file_exists(path)) throw std::runtime_error("missing required file: " + path);
}

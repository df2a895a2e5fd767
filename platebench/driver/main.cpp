#include "driver/args.h"
#include "driver/case_list.h"
#include "driver/debug_picture.h"
#include "driver/frame_pipeline.h"
#include "driver/group_report.h"
#include "driver/group_vote.h"
#include "driver/model_setup.h"
#include "driver/output_file.h"
#include "driver/profile.h"
#include "driver/result_files.h"
#include "driver/text_util.h"

#include <opencv2/core/utils/logger.hpp>

#include <chrono>
#include <exception>
#include <iostream>
#include <utility>

namespace {

int run(int argc, char** argv) {
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

    // Each frame's row reaches the file when the frame ends, so a run that
    // fails or is killed later keeps the rows of its finished frames.
    RowFile frame_summary(args.output_dir + "/frame_summary.csv");
    frame_summary.append(frame_summary_header());

    RunTotals totals;
    std::vector<FrameResult> frames;
    for (size_t i = 0; i < cases.size(); ++i) {
        const CaseItem& item = cases[i];
        const auto frame_start = std::chrono::steady_clock::now();
        const std::string case_dir = args.output_dir + "/cases/" + basename_no_ext(item.image_path);
        ensure_dir(case_dir);
        FrameOutcome outcome =
            process_case(item, i, cases.size(), case_dir, args, use_plate_det, models, region_words, ocr_dict);
        finish_debug_pictures();
        if (outcome.status == "correct") ++totals.frame_correct;
        else ++totals.frame_check_or_failed;
        write_text_file(case_dir + "/result.txt", result_txt(outcome.frame, outcome.status));
        write_text_file(case_dir + "/result.json", result_json(outcome.frame, outcome.status));
        frame_summary.append(frame_summary_row(outcome.frame, outcome.status));
        // The group vote reads the fields only; the frame's readings are on disk by now, and
        // keeping them would grow the run by kilobytes a frame.
        outcome.frame.texts = std::vector<OcrText>();
        frames.push_back(std::move(outcome.frame));
        profile_frame(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - frame_start).count());
    }
    frame_summary.close();

    const GroupReport groups = group_report(frames);
    write_text_file(args.output_dir + "/summary.csv", groups.summary_csv);

    totals.frame_total = static_cast<int32_t>(frames.size());
    totals.group_total = groups.group_total;
    totals.group_correct = groups.group_correct;
    totals.group_check_or_failed = groups.group_check_or_failed;
    write_text_file(args.output_dir + "/FINAL_RESULT.json",
                    final_result_json(args.input_mode, use_plate_det, totals, args.output_dir));
    std::cout << final_block(args.input_mode, use_plate_det, totals, args.output_dir);
    profile_write_report();

    return args.fail_on_error && totals.group_check_or_failed > 0 ? 2 : 0;
}

} // namespace

int main(int argc, char** argv) {
    // Standard error carries the program's own lines; OpenCV's warnings (an
    // unreadable image, say) would only repeat what the program reports.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "[ERROR] " << e.what() << "\n";
        return 1;
    }
}

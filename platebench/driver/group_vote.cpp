#include "driver/group_vote.h"

#include "driver/text_util.h"
#include "driver/vote.h"

std::string vote_string(const std::vector<std::string>& values) {
    VoteTable counts;
    for (const auto& v : values)
        if (!v.empty()) ++counts[v];
    return vote_winner(counts);
}

GroupResult vote_group(const std::vector<FrameResult>& frames) {
    GroupResult g;
    if (frames.empty()) return g;
    g.group_id = frames.front().group_id;
    g.expected = frames.front().expected;
    g.frame_count = static_cast<int32_t>(frames.size());
    std::vector<std::string> regions, classes, kanas, serials;
    for (const auto& f : frames) {
        regions.push_back(f.plate.region);
        classes.push_back(f.plate.class_no);
        kanas.push_back(f.plate.kana);
        serials.push_back(f.plate.serial);
    }
    g.plate.region = vote_string(regions);
    g.plate.class_no = vote_string(classes);
    g.plate.kana = vote_string(kanas);
    g.plate.serial = vote_string(serials);
    g.plate.plate_text = compose_plate_text(g.plate);
    return g;
}

std::string group_summary_header() {
    return "group_id,expected,final_plate_number,status,region,class_no,kana,serial,frame_count\n";
}

std::string group_summary_row(const GroupResult& group, const std::string& status) {
    const PlateFields& p = group.plate;
    return join_strings({csv_escape(group.group_id), csv_escape(group.expected), csv_escape(p.plate_text),
                         csv_escape(status), csv_escape(p.region), csv_escape(p.class_no), csv_escape(p.kana),
                         csv_escape(p.serial), std::to_string(group.frame_count)},
                        ",") +
           "\n";
}

std::string final_result_json(const std::string& input_mode, bool use_plate_det, const RunTotals& t,
                              const std::string& output_dir) {
    const auto number = [](const char* key, int32_t v) {
        return std::string("  \"") + key + "\": " + std::to_string(v) + ",\n";
    };
    return "{\n" + std::string("  \"input_mode\": \"") + json_escape(input_mode) + "\",\n" +
           "  \"use_plate_det\": " + (use_plate_det ? "true" : "false") + ",\n" +
           number("frame_total", t.frame_total) + number("frame_correct", t.frame_correct) +
           number("frame_check_or_failed", t.frame_check_or_failed) + number("group_total", t.group_total) +
           number("group_correct", t.group_correct) + number("group_check_or_failed", t.group_check_or_failed) +
           "  \"frame_summary_csv\": \"" + json_escape(output_dir + "/frame_summary.csv") + "\",\n" +
           "  \"summary_csv\": \"" + json_escape(output_dir + "/summary.csv") + "\"\n" + "}\n";
}

std::string final_block(const std::string& input_mode, bool use_plate_det, const RunTotals& t,
                        const std::string& output_dir) {
    return "========== FINAL_RESULT ==========\n" + std::string("input_mode=") + input_mode +
           " use_plate_det=" + (use_plate_det ? "true" : "false") + "\n" +
           "frame_total=" + std::to_string(t.frame_total) + " frame_correct=" + std::to_string(t.frame_correct) +
           " frame_check_or_failed=" + std::to_string(t.frame_check_or_failed) + "\n" +
           "group_total=" + std::to_string(t.group_total) + " group_correct=" + std::to_string(t.group_correct) +
           " group_check_or_failed=" + std::to_string(t.group_check_or_failed) + "\n" +
           "summary=" + output_dir + "/summary.csv\n";
}

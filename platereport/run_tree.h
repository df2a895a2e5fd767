// The files one platebench run leaves in its output directory, read back as
// plain records. Nothing here writes into the tree.
#pragma once

#include <map>
#include <string>
#include <vector>

// The counters of FINAL_RESULT.json.
struct RunTotals {
    std::string input_mode;
    bool use_plate_det = false;
    long frame_total = 0;
    long frame_correct = 0;
    long frame_check_or_failed = 0;
    long group_total = 0;
    long group_correct = 0;
    long group_check_or_failed = 0;
};

// One row of frame_summary.csv.
struct FrameRow {
    std::string group_id, image_path, expected, plate_text, status;
    std::string region, class_no, kana, serial, ocr_texts;
};

// One row of summary.csv.
struct GroupRow {
    std::string group_id, expected, plate_text, status;
    std::string region, class_no, kana, serial;
    long frame_count = 0;
};

// What one case directory holds; frames whose images share a base name share it,
// and its pictures are those of the last of them.
struct CaseDir {
    std::string name;                  // the image's base name
    bool exists = false;
    std::vector<std::string> pictures; // .jpg file names, byte order
    bool has(const std::string& file) const;
    int kana_fallback_pictures() const;
};

struct RunTree {
    std::string dir;
    RunTotals totals;
    std::vector<FrameRow> frames;           // case order
    std::vector<GroupRow> groups;           // group_id order
    std::map<std::string, CaseDir> cases;   // by base name
};

enum class KanaFallback { ran, not_ran, unsure };

// What the case folder tells about one frame. A folder shared by several frames
// holds the last one's pictures, so for the earlier ones only an empty kana
// proves that the fallback ran (it runs whenever the parser finds no kana).
struct FrameFacts {
    std::string case_name;
    size_t picture_frame = 0; // index of the frame whose pictures the folder holds
    KanaFallback fallback = KanaFallback::not_ran;
};

std::vector<FrameFacts> frame_facts(const RunTree& tree);

// a/b/c.jpg -> c; only "/" separates directories (the case directory's name).
std::string case_name_of(const std::string& image_path);

// Throws "not a platebench output tree: " + dir + detail when a file is missing,
// "malformed csv: "/"malformed json: " + path + detail for a bad table or
// record, "unexpected status: " + value for a status outside correct, check,
// unknown.
RunTree read_run_tree(const std::string& dir);

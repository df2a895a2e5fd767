#include "run_tree.h"

#include "csv_table.h"
#include "flat_json.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> frame_header = {"group_id", "image_path", "expected", "final_plate_number", "status",
                                               "region",   "class_no",   "kana",     "serial",             "ocr_texts"};
const std::vector<std::string> group_header = {"group_id", "expected", "final_plate_number", "status",     "region",
                                               "class_no", "kana",     "serial",             "frame_count"};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("failed to open: " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void check_status(const std::string& status, const std::string& where) {
    if (status != "correct" && status != "check" && status != "unknown")
        throw std::runtime_error("unexpected status: \"" + status + "\" in " + where);
}

long count_value(const std::map<std::string, JsonValue>& members, const std::string& key, const std::string& path) {
    const auto it = members.find(key);
    if (it == members.end() || it->second.kind != JsonValue::Kind::number)
        throw std::runtime_error("malformed json: " + path + ": no number \"" + key + "\"");
    try {
        size_t used = 0;
        const long v = std::stol(it->second.text, &used);
        if (used == it->second.text.size() && v >= 0) return v;
    } catch (const std::exception&) {
    }
    throw std::runtime_error("malformed json: " + path + ": \"" + key + "\" is " + it->second.text);
}

RunTotals read_totals(const std::string& path) {
    const auto members = parse_flat_json_object(read_file(path), path);
    RunTotals t;
    const auto mode = members.find("input_mode");
    if (mode == members.end() || mode->second.kind != JsonValue::Kind::string)
        throw std::runtime_error("malformed json: " + path + ": no string \"input_mode\"");
    t.input_mode = mode->second.text;
    const auto det = members.find("use_plate_det");
    if (det == members.end() || det->second.kind != JsonValue::Kind::boolean)
        throw std::runtime_error("malformed json: " + path + ": no boolean \"use_plate_det\"");
    t.use_plate_det = det->second.flag;
    t.frame_total = count_value(members, "frame_total", path);
    t.frame_correct = count_value(members, "frame_correct", path);
    t.frame_check_or_failed = count_value(members, "frame_check_or_failed", path);
    t.group_total = count_value(members, "group_total", path);
    t.group_correct = count_value(members, "group_correct", path);
    t.group_check_or_failed = count_value(members, "group_check_or_failed", path);
    return t;
}

CaseDir read_case_dir(const std::string& cases_dir, const std::string& name) {
    CaseDir c;
    c.name = name;
    // An empty base name would point at cases/ itself.
    if (name.empty()) return c;
    const fs::path dir = fs::path(cases_dir) / name;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return c;
    c.exists = true;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string file = entry.path().filename().string();
        if (file.size() > 4 && file.compare(file.size() - 4, 4, ".jpg") == 0) c.pictures.push_back(file);
    }
    std::sort(c.pictures.begin(), c.pictures.end());
    return c;
}

} // namespace

bool CaseDir::has(const std::string& file) const {
    return std::binary_search(pictures.begin(), pictures.end(), file);
}

int CaseDir::kana_fallback_pictures() const {
    return static_cast<int>(std::count_if(pictures.begin(), pictures.end(), [](const std::string& f) {
        return f.compare(0, 14, "kana_fallback_") == 0;
    }));
}

std::string case_name_of(const std::string& image_path) {
    const size_t slash = image_path.rfind('/');
    std::string name = slash == std::string::npos ? image_path : image_path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

RunTree read_run_tree(const std::string& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw std::runtime_error("not a platebench output tree: " + dir + " (not a directory)");
    for (const char* file : {"FINAL_RESULT.json", "frame_summary.csv", "summary.csv"}) {
        if (!fs::is_regular_file(fs::path(dir) / file, ec))
            throw std::runtime_error("not a platebench output tree: " + dir + " (no " + file + ")");
    }
    RunTree tree;
    tree.dir = dir;
    tree.totals = read_totals(dir + "/FINAL_RESULT.json");

    const std::string frame_path = dir + "/frame_summary.csv";
    for (const auto& r : read_csv_table(frame_path, frame_header).rows) {
        FrameRow f{r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8], r[9]};
        check_status(f.status, frame_path);
        tree.frames.push_back(f);
    }
    const std::string group_path = dir + "/summary.csv";
    for (const auto& r : read_csv_table(group_path, group_header).rows) {
        GroupRow g{r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], 0};
        check_status(g.status, group_path);
        size_t used = 0;
        try {
            g.frame_count = std::stol(r[8], &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (r[8].empty() || used != r[8].size() || g.frame_count < 0)
            throw std::runtime_error("malformed csv: " + group_path + ": frame_count \"" + r[8] + "\"");
        tree.groups.push_back(g);
    }
    for (const FrameRow& f : tree.frames) {
        const std::string name = case_name_of(f.image_path);
        if (!tree.cases.count(name)) tree.cases[name] = read_case_dir(dir + "/cases", name);
    }
    return tree;
}

std::vector<FrameFacts> frame_facts(const RunTree& tree) {
    std::map<std::string, size_t> last_frame;
    std::vector<FrameFacts> facts(tree.frames.size());
    for (size_t i = 0; i < tree.frames.size(); ++i) {
        facts[i].case_name = case_name_of(tree.frames[i].image_path);
        last_frame[facts[i].case_name] = i;
    }
    for (size_t i = 0; i < tree.frames.size(); ++i) {
        FrameFacts& f = facts[i];
        f.picture_frame = last_frame.at(f.case_name);
        const auto dir = tree.cases.find(f.case_name);
        const bool pictures = dir != tree.cases.end() && dir->second.kana_fallback_pictures() > 0;
        if (tree.frames[i].kana.empty() && pictures) f.fallback = KanaFallback::ran;
        else if (f.picture_frame == i) f.fallback = pictures ? KanaFallback::ran : KanaFallback::not_ran;
        else f.fallback = pictures ? KanaFallback::unsure : KanaFallback::not_ran;
    }
    return facts;
}

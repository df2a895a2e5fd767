#include "driver/result_files.h"

#include "driver/output_file.h"
#include "driver/text_util.h"

namespace {
std::string joined_candidates(const FrameResult& frame) {
    return join_strings(candidate_strings(frame.texts), " / ");
}
} // namespace

std::vector<std::string> candidate_strings(const std::vector<OcrText>& texts) {
    std::vector<std::string> out;
    out.reserve(texts.size());
    for (const auto& t : texts) out.push_back(t.source + ":" + t.text);
    return out;
}

std::string result_txt(const FrameResult& frame, const std::string& status) {
    const PlateFields& p = frame.plate;
    return "group_id: " + frame.group_id + "\n" + "image_path: " + frame.image_path + "\n" +
           "expected: " + frame.expected + "\n" + "ocr_texts: " + joined_candidates(frame) + "\n" +
           "region: " + p.region + "\n" + "class_no: " + p.class_no + "\n" + "kana: " + p.kana + "\n" +
           "serial: " + p.serial + "\n" + "final_plate_number: " + p.plate_text + "\n" + "status: " + status + "\n";
}

std::string result_json(const FrameResult& frame, const std::string& status) {
    const PlateFields& p = frame.plate;
    const auto member = [](const char* key, const std::string& value, bool last = false) {
        return std::string("  \"") + key + "\": \"" + json_escape(value) + (last ? "\"\n" : "\",\n");
    };
    return "{\n" + member("group_id", frame.group_id) + member("image_path", frame.image_path) +
           member("expected", frame.expected) + member("final_plate_number", p.plate_text) +
           member("region", p.region) + member("class_no", p.class_no) + member("kana", p.kana) +
           member("serial", p.serial) + member("ocr_texts", joined_candidates(frame)) +
           member("status", status, true) + "}\n";
}

std::string frame_summary_header() {
    return "group_id,image_path,expected,final_plate_number,status,region,class_no,kana,serial,ocr_texts\n";
}

std::string frame_summary_row(const FrameResult& frame, const std::string& status) {
    const PlateFields& p = frame.plate;
    return join_strings({csv_escape(frame.group_id), csv_escape(frame.image_path), csv_escape(frame.expected),
                         csv_escape(p.plate_text), csv_escape(status), csv_escape(p.region), csv_escape(p.class_no),
                         csv_escape(p.kana), csv_escape(p.serial), csv_escape(joined_candidates(frame))},
                        ",") +
           "\n";
}

void write_text_file(const std::string& path, const std::string& content) { write_file_replacing(path, content); }

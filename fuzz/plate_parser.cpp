// parse_jp_plate on any candidate texts and region words, UTF-8 or not.
#include "driver/text_util.h"
#include "fuzz_bytes.h"
#include "kana/kana_table.h"
#include "parse/plate_parser.h"

#include <cstdlib>

namespace {
bool all_digits(const std::string& s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in(data, size);
    std::vector<std::string> region_words;
    const int64_t words = in.take_in(0, 8);
    for (int64_t i = 0; i < words; ++i) region_words.push_back(in.take_string(12));
    std::vector<OcrText> texts;
    while (in.left() > 0 && texts.size() < 64) {
        static const char* const tags[] = {"original_full", "gray_upper_row", "clahe_lower_row",
                                           "sharpen_serial_area", "up2x_det_crop_0", ""};
        const uint8_t pick = in.take<uint8_t>();
        const std::string source = pick < 192 ? tags[pick % 6] : in.take_string(24);
        texts.push_back(OcrText{source, in.take_string(48)});
    }

    const PlateFields f = parse_jp_plate(texts, region_words);
    // Each field holds a value of its own form, or nothing.
    if (!f.class_no.empty() && !(f.class_no.size() == 3 && all_digits(f.class_no))) std::abort();
    const bool serial_pairs = f.serial.size() == 5 && f.serial[2] == '-' &&
                              all_digits(f.serial.substr(0, 2) + f.serial.substr(3));
    if (!f.serial.empty() && !(f.serial.size() == 3 && all_digits(f.serial)) && !serial_pairs) std::abort();
    if (!f.kana.empty() && !is_valid_plate_kana_string(f.kana)) std::abort();
    if (!f.region.empty()) {
        bool listed = false;
        for (const std::string& w : region_words) listed = listed || w == f.region;
        if (!listed) std::abort();
    }
    // The plate text is the four fields joined and trimmed (a region word of white space only trims away).
    const bool none = f.region.empty() && f.class_no.empty() && f.kana.empty() && f.serial.empty();
    const std::string joined = none ? "" : trim(f.region + " " + f.class_no + " " + f.kana + " " + f.serial);
    if (f.plate_text != joined) std::abort();
    return 0;
}

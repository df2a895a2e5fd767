#include "field_stats.h"

#include <algorithm>
#include <map>
#include <utility>

const std::array<const char*, 4> field_names = {"region", "class number", "kana", "serial"};

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

bool split_plate_text(const std::string& text, PlateParts& parts) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_blank(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !is_blank(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    if (words.size() != 4) return false;
    std::copy(words.begin(), words.end(), parts.begin());
    return true;
}

PlateParts read_parts(const FrameRow& frame) {
    return {frame.region, frame.class_no, frame.kana, frame.serial};
}

PlateParts read_parts(const GroupRow& group) {
    return {group.region, group.class_no, group.kana, group.serial};
}

FieldReport field_report(const std::vector<FrameRow>& frames) {
    FieldReport report;
    std::array<std::map<std::pair<std::string, std::string>, long>, 4> counts;
    for (const FrameRow& f : frames) {
        if (std::all_of(f.expected.begin(), f.expected.end(), is_blank)) continue;
        ++report.with_expectation;
        PlateParts expected;
        if (!split_plate_text(f.expected, expected)) continue;
        ++report.compared;
        if (f.status == "correct") ++report.plates_matched;
        const PlateParts read = read_parts(f);
        for (size_t k = 0; k < 4; ++k) {
            if (expected[k] == read[k]) ++report.fields[k].matched;
            else ++counts[k][{expected[k], read[k]}];
        }
    }
    for (size_t k = 0; k < 4; ++k) {
        auto& list = report.fields[k].confusions;
        for (const auto& [key, n] : counts[k]) list.push_back({key.first, key.second, n});
        // The map already gives byte order; a stable sort keeps it among equal counts.
        std::stable_sort(list.begin(), list.end(), [](const Confusion& a, const Confusion& b) { return a.count > b.count; });
    }
    return report;
}

#include "parse/plate_parser.h"

#include "driver/text_util.h"
#include "kana/kana_table.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

// Longest first, so a region name that contains a shorter one is matched whole; stable, so
// names of one length keep the list's order and the tools' copy of the parser agrees.
std::vector<std::string> sort_longest_first(const std::vector<std::string>& words) {
    std::vector<std::string> sorted = words;
    std::stable_sort(sorted.begin(), sorted.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return sorted;
}

// Upper-row and serial-area reads are the most reliable fixed areas of the plate.
int32_t source_weight(const std::string& tag) {
    int32_t w = 1;
    if (contains(tag, "full")) w += 1;
    if (contains(tag, "upper_row")) w += 3;
    if (contains(tag, "lower_row")) w += 2;
    if (contains(tag, "serial_area")) w += 3;
    return w;
}

std::string last_four(const std::string& digits) { return digits.substr(digits.size() - 4); }

void vote_region(VoteTable& votes, const std::string& t, const std::vector<std::string>& sorted_words, int32_t w) {
    for (const std::string& word : sorted_words) {
        if (!word.empty() && contains(t, word)) {
            votes[word] += w;
            return;
        }
    }
}

// The first and last numbers of a reading are most likely the class number and the serial.
void vote_outer_runs(PlateVotes& votes, const std::vector<std::string>& digits, int32_t w) {
    if (digits.size() < 2) return;
    const std::string& first = digits.front();
    const std::string& last = digits.back();
    if (first.size() == 3) votes.class_no[first] += w + 5;
    if (last.size() == 3 || last.size() == 4)
        votes.serial[format_serial(last)] += w + 5;
    else if (last.size() > 4)
        votes.serial[format_serial(last_four(last))] += w + 4;
}

// A 3-digit number is a class number on the upper row and a short serial on the lower.
void vote_each_run(PlateVotes& votes, const std::vector<std::string>& digits, const std::string& tag, int32_t w) {
    for (const std::string& d : digits) {
        if (d.size() == 3) {
            if (contains(tag, "upper_row")) {
                votes.class_no[d] += 8;
                votes.serial[format_serial(d)] += 1;
            } else if (contains(tag, "lower_row") || contains(tag, "serial_area")) {
                votes.serial[format_serial(d)] += 8;
                votes.class_no[d] += 1;
            } else {
                votes.class_no[d] += 1;
                votes.serial[format_serial(d)] += 1;
            }
        } else if (d.size() == 4) {
            votes.serial[format_serial(d)] += w + 6;
        } else if (d.size() > 4) {
            votes.serial[format_serial(last_four(d))] += w + 4;
        }
    }
}

PlateVotes tally_sorted(const std::vector<OcrText>& texts, const std::vector<std::string>& sorted_words) {
    PlateVotes votes;
    for (const OcrText& candidate : texts) {
        const std::string t = remove_spaces(candidate.text);
        if (t.empty()) continue;
        const int32_t w = source_weight(candidate.source);
        vote_region(votes.region, t, sorted_words, w);
        const std::string kana = find_hiragana_kana(t);
        if (!kana.empty()) votes.kana[kana] += w;
        std::vector<std::string> digits;
        for (const std::string& run : extract_digit_runs(t)) {
            std::string d = digits_only(run);
            if (!d.empty()) digits.push_back(std::move(d));
        }
        vote_outer_runs(votes, digits, w);
        vote_each_run(votes, digits, candidate.source, w);
    }
    return votes;
}

bool is_upper_row_witness(const std::string& tag, const std::string& t, const std::vector<std::string>& sorted_words) {
    if (contains(tag, "upper_row")) return true;
    for (const std::string& word : sorted_words)
        if (!word.empty() && contains(t, word)) return true;
    return false;
}

// Two 3-digit numbers can be told apart only by which one the upper row shows more often.
bool should_exchange(const std::vector<OcrText>& texts, const std::vector<std::string>& sorted_words,
                     const std::string& class_no, const std::string& serial) {
    int32_t class_hits = 0;
    int32_t serial_hits = 0;
    for (const OcrText& candidate : texts) {
        const std::string t = remove_spaces(candidate.text);
        if (!is_upper_row_witness(candidate.source, t, sorted_words)) continue;
        if (contains(t, class_no)) ++class_hits;
        if (contains(t, serial)) ++serial_hits;
    }
    return serial_hits > class_hits;
}

} // namespace

PlateVotes tally_plate_votes(const std::vector<OcrText>& texts, const std::vector<std::string>& region_words) {
    return tally_sorted(texts, sort_longest_first(region_words));
}

PlateFields parse_jp_plate(const std::vector<OcrText>& texts, const std::vector<std::string>& region_words) {
    const std::vector<std::string> sorted_words = sort_longest_first(region_words);
    const PlateVotes votes = tally_sorted(texts, sorted_words);

    PlateFields fields;
    fields.region = vote_winner(votes.region);
    fields.class_no = vote_winner(votes.class_no);
    fields.kana = vote_winner(votes.kana);
    fields.serial = vote_winner(votes.serial);

    if (fields.class_no.size() == 3 && fields.serial.size() == 3 &&
        should_exchange(texts, sorted_words, fields.class_no, fields.serial))
        std::swap(fields.class_no, fields.serial);

    // With all four fields empty the joined text trims to "" as well.
    fields.plate_text = compose_plate_text(fields);
    return fields;
}

std::vector<std::string> extract_digit_runs(const std::string& s) {
    std::vector<std::string> runs;
    std::string run;
    bool open = false;
    for (char c : s) {
        if (is_ascii_digit(c) || (open && c == '-')) {
            run += c;
            open = true;
        } else if (open) {
            runs.push_back(run);
            run.clear();
            open = false;
        }
    }
    if (open) runs.push_back(run);
    return runs;
}

std::string digits_only(const std::string& s) {
    std::string out;
    for (char c : s)
        if (is_ascii_digit(c)) out += c;
    return out;
}

std::string format_serial(const std::string& s) {
    const std::string d = digits_only(s);
    if (d.size() == 4) return d.substr(0, 2) + "-" + d.substr(2);
    return d;
}

#include "parse/plate_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kWords = {"品川", "横浜"};

PlateVotes tally_one(const std::string& source, const std::string& text) {
    return tally_plate_votes({{source, text}}, kWords);
}

} // namespace

TEST(PlateVotes, FullCandidateWithEveryField) {
    const PlateVotes v = tally_one("original_full", "品川 300 あ 12-34");
    EXPECT_EQ(v.region, (VoteTable{{"品川", 2}}));
    EXPECT_EQ(v.kana, (VoteTable{{"あ", 2}}));
    EXPECT_EQ(v.class_no, (VoteTable{{"300", 8}}));
    EXPECT_EQ(v.serial, (VoteTable{{"12-34", 15}, {"300", 1}}));
}

TEST(PlateVotes, SourceWeightsShowInFourDigitSerialVote) {
    const struct { const char* source; int32_t total; } cases[] = {
        {"original_det_crop_0", 7},
        {"gray_full", 8},
        {"clahe_upper_row", 10},
        {"sharpen_lower_row", 9},
        {"up2x_serial_area", 10},
        {"full_upper_row", 11},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tally_one(c.source, "1234").serial, (VoteTable{{"12-34", c.total}})) << c.source;
}

TEST(PlateVotes, DigitRunRules) {
    const struct {
        const char* source;
        const char* text;
        VoteTable class_no;
        VoteTable serial;
    } cases[] = {
        {"a_upper_row", "300", {{"300", 8}}, {{"300", 1}}},
        {"a_lower_row", "300", {{"300", 1}}, {{"300", 8}}},
        {"a_serial_area", "300", {{"300", 1}}, {{"300", 8}}},
        {"a_full", "300", {{"300", 1}}, {{"300", 1}}},
        {"a_full", "12-34", {}, {{"12-34", 8}}},
        {"a_full", "300・1234567", {{"300", 8}}, {{"45-67", 12}, {"300", 1}}},
        {"a_full", "300・123", {{"300", 8}, {"123", 1}}, {{"123", 8}, {"300", 1}}},
        {"a_full", "12・34", {}, {}},
        {"a_full", "3001・12", {}, {{"30-01", 8}}},
        {"a_full", "7", {}, {}},
        {"a_full", "品川", {}, {}},
    };
    for (const auto& c : cases) {
        const PlateVotes v = tally_one(c.source, c.text);
        EXPECT_EQ(v.class_no, c.class_no) << c.source << " " << c.text;
        EXPECT_EQ(v.serial, c.serial) << c.source << " " << c.text;
    }
}

TEST(PlateVotes, LongestRegionWordHidesTheWordsInsideIt) {
    const std::vector<std::string> words = {"", "AB", "ABC", "B"};
    const struct { const char* text; VoteTable region; } cases[] = {
        {"xABCx", {{"ABC", 1}}},
        {"xABx", {{"AB", 1}}},
        {"xBx", {{"B", 1}}},
        {"xyz", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tally_plate_votes({{"t", c.text}}, words).region, c.region) << c.text;
}

TEST(PlateVotes, WordsOfOneLengthKeepTheListOrder) {
    // Enough words that an unstable sort would reorder them.
    std::vector<std::string> words;
    for (char c = 'a'; c <= 'z'; ++c) words.push_back(std::string(2, c));
    words.push_back("xyz");
    const struct { const char* text; VoteTable region; } cases[] = {
        {"zzaa", {{"aa", 1}}},
        {"mmbb", {{"bb", 1}}},
        {"yyxyz", {{"xyz", 1}}},
    };
    for (const auto& c : cases) EXPECT_EQ(tally_plate_votes({{"t", c.text}}, words).region, c.region) << c.text;
}

TEST(ParsePlate, EmptyOrBlankInputGivesEmptyFields) {
    const std::vector<std::vector<OcrText>> inputs = {{}, {{"a_full", " \t\r\n"}, {"b_full", ""}}};
    for (const auto& texts : inputs) {
        const PlateFields f = parse_jp_plate(texts, kWords);
        EXPECT_EQ(f.region + f.class_no + f.kana + f.serial + f.plate_text, "");
    }
}

TEST(ParsePlate, TiesGoToTheByteWiseFirstValue) {
    const PlateFields f = parse_jp_plate(
        {{"a_upper_row", "301"}, {"a_upper_row", "300"}, {"b", "か"}, {"b", "い"}, {"c", "横浜"}, {"c", "品川"}},
        kWords);
    EXPECT_EQ(f.class_no, "300");
    EXPECT_EQ(f.kana, "い");
    EXPECT_EQ(f.region, "品川");
}

TEST(ParsePlate, KanaInsideRegionWordFollowsTableOrder) {
    const std::vector<std::string> words = {"とちぎ"};
    EXPECT_EQ(parse_jp_plate({{"a_full", "とちぎ500"}}, words).kana, "ち");
    EXPECT_EQ(parse_jp_plate({{"a_full", "とちぎ500あ"}}, words).kana, "あ");
}

TEST(ParsePlate, ExchangesThreeDigitNumbersWhenUpperRowShowsTheSerial) {
    const std::vector<OcrText> base = {{"a_upper_row", "300"}, {"a_lower_row", "500"}, {"b_full", "品川500"}};
    const struct { std::vector<OcrText> extra; const char* class_no; const char* serial; } cases[] = {
        {{}, "300", "500"},
        {{{"c_full", "品川500"}}, "500", "300"},
        {{{"c_full", "品川500"}, {"d_upper_row", "300"}}, "300", "500"},
        {{{"c_det_crop_0", "横浜500"}}, "500", "300"},
        {{{"c_det_crop_0", "500"}, {"c_det_crop_1", "500"}}, "300", "500"},
    };
    for (const auto& c : cases) {
        std::vector<OcrText> texts = base;
        texts.insert(texts.end(), c.extra.begin(), c.extra.end());
        const PlateFields f = parse_jp_plate(texts, kWords);
        EXPECT_EQ(f.class_no, c.class_no) << c.extra.size();
        EXPECT_EQ(f.serial, c.serial) << c.extra.size();
    }
}

TEST(ParsePlate, NoExchangeForAFourDigitSerial) {
    const PlateFields f = parse_jp_plate(
        {{"a_upper_row", "300"}, {"a_lower_row", "1234"}, {"b_upper_row", "12-34"}, {"c_upper_row", "12-34"}}, kWords);
    EXPECT_EQ(f.class_no, "300");
    EXPECT_EQ(f.serial, "12-34");
}

TEST(ParsePlate, PlateTextKeepsTheGapOfAnEmptyField) {
    const struct { std::vector<OcrText> texts; const char* plate_text; } cases[] = {
        {{{"a_full", "品川300あ12-34"}}, "品川 300 あ 12-34"},
        {{{"a_full", "品川300・12-34"}}, "品川 300  12-34"},
        {{{"a_full", "12-34"}}, "12-34"},
        {{{"a_full", "品川"}}, "品川"},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_jp_plate(c.texts, kWords).plate_text, c.plate_text);
}

TEST(DigitRuns, SplitOnEveryByteButDigitsAndInnerDashes) {
    const struct { const char* text; std::vector<std::string> runs; } cases[] = {
        {"", {}},
        {"品川", {}},
        {"12-34", {"12-34"}},
        {"-12", {"12"}},
        {"12-", {"12-"}},
        {"12・34", {"12", "34"}},
        {"品川300あ12-34", {"300", "12-34"}},
        {"1--2x", {"1--2"}},
        {"a1b22", {"1", "22"}},
    };
    for (const auto& c : cases) EXPECT_EQ(extract_digit_runs(c.text), c.runs) << c.text;
}

TEST(DigitRuns, DigitsOnlyAndSerialFormat) {
    const struct { const char* text; const char* digits; const char* serial; } cases[] = {
        {"", "", ""},
        {"1234", "1234", "12-34"},
        {"12-34", "1234", "12-34"},
        {"123", "123", "123"},
        {"12345", "12345", "12345"},
        {"1・2３4", "124", "124"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(digits_only(c.text), c.digits) << c.text;
        EXPECT_EQ(format_serial(c.text), c.serial) << c.text;
    }
}

#include "kana/kana_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

// Classes: 0 blank, 1 "1", 2 "か", 3 "ろ", 4 "愛", 5 "あ".
const std::vector<std::string> kDict = {"1", "か", "ろ", "愛", "あ"};

rknn_tensor_attr attr_of(std::initializer_list<uint32_t> dims) {
    rknn_tensor_attr attr;
    std::memset(&attr, 0, sizeof attr);
    for (uint32_t d : dims) attr.dims[attr.n_dims++] = d;
    return attr;
}

} // namespace

TEST(KanaConstrainedDecode, GreedyOverKanaAndBlankOnly) {
    const struct {
        const char* what;
        std::vector<float> logits;  // 6 classes per step
        const char* kana;
    } cases[] = {
        {"kana above blank", {0, 0, 1, 0, 0, 0}, "か"},
        {"digit and kanji ignored", {0, 9, 0.5f, 0, 9, 0}, "か"},
        {"time order ろ then か", {0, 0, 0, 1, 0, 0, /**/ 0, 0, 1, 0, 0, 0}, "か"},
        {"later kana in table order", {0, 0, 1, 0, 0, 0, /**/ 1, 0, 0, 0, 0, 0, /**/ 0, 0, 0, 0, 0, 1}, "あ"},
        {"closest kana by margin", {2, 0, 0, 1, 0, 0, /**/ 5, 0, 1, 0, 0, 0}, "ろ"},
        {"blank tie still names kana", {1, 0, 1, 0, 0, 0}, "か"},
        {"closest kana tie: byte-wise first", {3, 0, 1, 1, 0, 1}, "あ"},
        {"best margin over all steps", {0, 0, -5, -1, 0, -3, /**/ 9, 0, 8.5f, 0, 0, 0}, "か"},
    };
    for (const auto& c : cases) {
        const uint32_t steps = static_cast<uint32_t>(c.logits.size() / 6);
        EXPECT_EQ(ctc_decode_kana_constrained(c.logits, attr_of({1, steps, 6}), kDict), c.kana) << c.what;
    }
}

TEST(KanaConstrainedDecode, UnusableShapeOrDictionaryGivesEmpty) {
    const std::vector<float> one_step = {0, 0, 1, 0, 0, 0};
    const std::vector<std::string> no_kana = {"1", "愛", "ア"};
    const struct {
        const char* what;
        std::vector<float> logits;
        rknn_tensor_attr attr;
        std::vector<std::string> dict;
    } cases[] = {
        {"empty logits", {}, attr_of({1, 1, 6}), kDict},
        {"one dimension", one_step, attr_of({6}), kDict},
        {"zero steps", one_step, attr_of({1, 0, 6}), kDict},
        {"zero classes", one_step, attr_of({1, 1, 0}), kDict},
        {"too few floats", one_step, attr_of({1, 2, 6}), kDict},
        {"kana beyond the class count", {0, 0}, attr_of({1, 1, 2}), kDict},
        {"no kana in dictionary", one_step, attr_of({1, 1, 6}), no_kana},
    };
    for (const auto& c : cases) EXPECT_EQ(ctc_decode_kana_constrained(c.logits, c.attr, c.dict), "") << c.what;
}

TEST(KanaConstrainedDecode, ShapeFromTwoThreeAndFourDimensions) {
    const std::vector<float> logits = {5, 0, 0, 1, 0, 0, /**/ 0, 0, 1, 0, 0, 0};
    for (const auto& attr : {attr_of({2, 6}), attr_of({1, 2, 6}), attr_of({1, 1, 2, 6})})
        EXPECT_EQ(ctc_decode_kana_constrained(logits, attr, kDict), "か") << attr.n_dims;
}

TEST(KanaConstrainedDecode, DuplicateDictionaryKanaShareOneScore) {
    const std::vector<std::string> dict = {"ろ", "か", "ろ"};
    EXPECT_EQ(ctc_decode_kana_constrained({9, 1, 1.5f, 2}, attr_of({1, 1, 4}), dict), "ろ");
}

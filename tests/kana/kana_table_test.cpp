#include "kana/kana_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(KanaTable, FortyTwoDistinctThreeByteKanaInGojuonOrder) {
    const auto& kana = kana_list();
    ASSERT_EQ(kana.size(), 42u);
    EXPECT_EQ(std::set<std::string>(kana.begin(), kana.end()).size(), 42u);
    for (const std::string& k : kana) EXPECT_EQ(k.size(), 3u) << k;
    EXPECT_EQ(kana[0], "あ");
    EXPECT_EQ(kana[10], "さ");
    EXPECT_EQ(kana[11], "す");
    EXPECT_EQ(kana[24], "は");
    EXPECT_EQ(kana[27], "ほ");
    EXPECT_EQ(kana[41], "わ");
}

TEST(KanaTable, FindTakesTableOrderNotTextOrder) {
    const struct { const char* text; const char* kana; } cases[] = {
        {"", ""},
        {"12-34", ""},
        {"しへんを", ""},
        {"アがぁ", ""},
        {"ろか", "か"},
        {"品川300さあ12-34", "あ"},
        {"xわx", "わ"},
        {"愛", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(find_hiragana_kana(c.text), c.kana) << c.text;
}

TEST(KanaTable, ValidKanaStringIsExactlyOneListedKana) {
    const struct { const char* s; bool valid; } cases[] = {
        {"あ", true}, {"わ", true}, {"", false}, {"ア", false}, {"が", false},
        {"さま", false}, {"あ ", false}, {"し", false}, {"1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_valid_plate_kana_string(c.s), c.valid) << c.s;
}

TEST(KanaTable, LookAlikeKanjiReadAsA) {
    const struct { const char* text; const char* kana; } cases[] = {
        {"愛", "あ"},
        {"爱", "あ"},
        {"品愛12", "あ"},
        {"愛ね", "ね"},
        {"ろ爱", "ろ"},
        {"12", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(find_kana_or_visual_confusion(c.text), c.kana) << c.text;
}

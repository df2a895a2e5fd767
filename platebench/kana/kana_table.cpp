#include "kana/kana_table.h"

#include "driver/text_util.h"

const std::vector<std::string>& kana_list() {
    // Gojuon order without し, へ, ん and を, which are not issued on plates.
    static const std::vector<std::string> kana = {
        "あ", "い", "う", "え", "お", "か", "き", "く", "け", "こ", "さ", "す", "せ", "そ",
        "た", "ち", "つ", "て", "と", "な", "に", "ぬ", "ね", "の", "は", "ひ", "ふ", "ほ",
        "ま", "み", "む", "め", "も", "や", "ゆ", "よ", "ら", "り", "る", "れ", "ろ", "わ",
    };
    return kana;
}

std::string find_hiragana_kana(const std::string& text) {
    for (const std::string& k : kana_list())
        if (contains(text, k)) return k;
    return "";
}

bool is_valid_plate_kana_string(const std::string& s) {
    for (const std::string& k : kana_list())
        if (s == k) return true;
    return false;
}

std::string find_kana_or_visual_confusion(const std::string& text) {
    std::string kana = find_hiragana_kana(text);
    if (!kana.empty()) return kana;
    // Both the Japanese and the simplified Chinese form of this kanji are misreadings of あ.
    if (contains(text, "愛")) return "あ";
    if (contains(text, "爱")) return "あ";
    return "";
}

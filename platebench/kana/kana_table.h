// The plate hiragana and lookups over them.
#pragma once

#include <string>
#include <vector>

// 42 entries; their order is the priority wherever a text holds several kana.
const std::vector<std::string>& kana_list();

std::string find_hiragana_kana(const std::string& text);
bool is_valid_plate_kana_string(const std::string& s);
// As find_hiragana_kana, but also reads the look-alike kanji 愛 and 爱 as あ.
std::string find_kana_or_visual_confusion(const std::string& text);

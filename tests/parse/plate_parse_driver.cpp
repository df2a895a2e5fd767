// Runs the plate field parser on candidate lists read from standard input, for
// the check that the tools' Python copy of the parser gives the same fields.
//
// argv[1]: region word list, one word a line. Standard input: one candidate a
// line, source and text split by a tab, with \t \r \n \\ escaped in the text; a
// line "=" ends a plate. Standard output: one line a plate, the five fields
// split by tabs.
#include "parse/plate_parser.h"

#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc != 2) throw std::runtime_error("usage: plate_parse_driver REGION_WORDS < CANDIDATES");
        std::ifstream words_file(argv[1]);
        if (!words_file) throw std::runtime_error(std::string("cannot open ") + argv[1]);
        std::vector<std::string> words;
        for (std::string line; std::getline(words_file, line);) words.push_back(line);

        std::vector<OcrText> texts;
        for (std::string line; std::getline(std::cin, line);) {
            if (line == "=") {
                const PlateFields f = parse_jp_plate(texts, words);
                std::cout << f.region << '\t' << f.class_no << '\t' << f.kana << '\t' << f.serial << '\t'
                          << f.plate_text << '\n';
                texts.clear();
                continue;
            }
            const size_t tab = line.find('\t');
            if (tab == std::string::npos) throw std::runtime_error("candidate without a tab: " + line);
            texts.push_back({line.substr(0, tab), unescape(line.substr(tab + 1))});
        }
    } catch (const std::exception& e) {
        std::cerr << "[ERROR] " << e.what() << '\n';
        return 1;
    }
    return 0;
}

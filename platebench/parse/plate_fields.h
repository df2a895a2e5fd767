// The four fields of a Japanese plate and the assembled plate text.
#pragma once

#include <string>

struct PlateFields {
    std::string region;
    std::string class_no;
    std::string kana;
    std::string serial;
    std::string plate_text;
};

// region, class_no, kana, serial joined by single spaces (an empty field keeps
// both neighbouring spaces), then trimmed at the ends.
std::string compose_plate_text(const PlateFields& f);

#include "parse/plate_fields.h"

#include "driver/text_util.h"

std::string compose_plate_text(const PlateFields& f) {
    return trim(f.region + " " + f.class_no + " " + f.kana + " " + f.serial);
}

// cornercheck: runs the plate-corner model on one plate picture, judges the
// corners and writes the rectified plate, the kana area and a result record.
#include "corner_check.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    return cornercheck::RunCornerCheck(std::vector<std::string>(argv, argv + argc));
}

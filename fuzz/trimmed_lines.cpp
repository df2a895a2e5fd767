// read_trimmed_lines on any file content.
#include "driver/case_list.h"
#include "driver/text_util.h"
#include "fuzz_bytes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz_scratch_file(data, size);
    size_t total = 0;
    for (const std::string& line : read_trimmed_lines(path)) {
        if (line.empty() || trim(line) != line || line.find('\n') != std::string::npos) std::abort();
        total += line.size();
    }
    if (total > size) std::abort();
    return 0;
}

// split_csv_simple on any line.
#include "driver/case_list.h"
#include "driver/text_util.h"
#include "fuzz_bytes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> fields = split_csv_simple(line);

    // One field per comma outside quotes, plus one; no quote survives; every field is trimmed.
    size_t separators = 0;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        else if (c == ',' && !quoted) ++separators;
    }
    if (fields.size() != separators + 1) std::abort();
    for (const std::string& f : fields)
        if (f.find('"') != std::string::npos || trim(f) != f) std::abort();
    return 0;
}

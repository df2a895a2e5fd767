// The case-list reader on any file content.
#include "driver/case_list.h"
#include "driver/text_util.h"
#include "fuzz_bytes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz_scratch_file(data, size);
    for (const CaseItem& item : read_input_list(path)) {
        // Rows without an image are dropped, and every kept row has a group.
        if (item.image_path.empty()) std::abort();
        if (item.group_id.empty() && !basename_no_ext(item.image_path).empty()) std::abort();
    }
    return 0;
}

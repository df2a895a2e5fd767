// Kana-constrained decoding on any output shape, dictionary and values.
#include "kana/kana_decode.h"
#include "rec_shapes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in(data, size);
    const RecOutput r = take_rec_output(in);
    const std::string kana = ctc_decode_kana_constrained(r.logits, r.attr, r.dict);
    // The result is one plate kana that the dictionary holds, or nothing.
    if (!kana.empty()) {
        if (!is_valid_plate_kana_string(kana)) std::abort();
        bool listed = false;
        for (const std::string& e : r.dict) listed = listed || e == kana;
        if (!listed) std::abort();
    }
    return 0;
}

// Greedy CTC decoding on any output shape, dictionary and values.
#include "ocr/text_recognition.h"
#include "rec_shapes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in(data, size);
    const RecOutput r = take_rec_output(in);
    const std::string text = ctc_decode(r.logits, r.attr, r.dict);
    // Each step adds at most one dictionary entry.
    size_t longest = 0;
    for (const std::string& e : r.dict) longest = e.size() > longest ? e.size() : longest;
    if (text.size() > r.logits.size() * longest) std::abort();
    return 0;
}

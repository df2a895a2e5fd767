// Splits one fuzz input into typed values. Reads past the end give zeros and
// empty strings, so every input, however short, is a valid call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class FuzzBytes {
public:
    FuzzBytes(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    size_t left() const { return static_cast<size_t>(end_ - p_); }

    template <typename T>
    T take() {
        T v{};
        const size_t n = left() < sizeof(T) ? left() : sizeof(T);
        std::memcpy(&v, p_, n);
        p_ += n;
        return v;
    }

    // A value in [lo, hi] (lo <= hi).
    int64_t take_in(int64_t lo, int64_t hi) {
        const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
        const uint64_t raw = take<uint32_t>();
        return lo + static_cast<int64_t>(span == 0 ? raw : raw % span);
    }

    // A string of up to max_len bytes, its length taken from one byte.
    std::string take_string(size_t max_len) {
        size_t n = take<uint8_t>();
        if (n > max_len) n = max_len;
        if (n > left()) n = left();
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }

    // Whatever is left, as floats (any bit pattern, NaN and infinities included).
    std::vector<float> take_floats(size_t max_count) {
        std::vector<float> v;
        while (left() >= sizeof(float) && v.size() < max_count) v.push_back(take<float>());
        return v;
    }

    std::string take_rest() {
        std::string s(reinterpret_cast<const char*>(p_), left());
        p_ = end_;
        return s;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// A per-process scratch file holding the given bytes, for readers that take a path.
std::string fuzz_scratch_file(const uint8_t* data, size_t size);

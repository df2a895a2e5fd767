// A merge sort that stays in bounds and ends for any comparison, which
// std::sort does not promise when the comparison is not a strict weak
// ordering (NaN scores, the reading-order rule of text boxes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace detail {
template <typename T, typename Before>
void merge_sort(std::vector<T>& items, size_t begin, size_t end, std::vector<T>& scratch, Before& before) {
    if (end - begin < 2) return;
    const size_t mid = begin + (end - begin) / 2;
    merge_sort(items, begin, mid, scratch, before);
    merge_sort(items, mid, end, scratch, before);
    scratch.clear();
    size_t left = begin, right = mid;
    while (left < mid && right < end) {
        if (before(items[right], items[left]))
            scratch.push_back(items[right++]);
        else
            scratch.push_back(items[left++]);
    }
    while (left < mid) scratch.push_back(items[left++]);
    while (right < end) scratch.push_back(items[right++]);
    std::copy(scratch.begin(), scratch.end(), items.begin() + static_cast<std::ptrdiff_t>(begin));
}
} // namespace detail

// before(a, b): a goes first. Elements the comparison does not separate keep their order.
template <typename T, typename Before>
void bounded_sort(std::vector<T>& items, Before before) {
    std::vector<T> scratch;
    scratch.reserve(items.size());
    detail::merge_sort(items, 0, items.size(), scratch, before);
}

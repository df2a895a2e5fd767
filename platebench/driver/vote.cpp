#include "driver/vote.h"

std::string vote_winner(const VoteTable& totals) {
    std::string best;
    int32_t best_total = 0;
    for (const auto& [key, total] : totals) {
        if (total > best_total) {
            best = key;
            best_total = total;
        }
    }
    return best;
}

#include "driver/vote.h"

#include <gtest/gtest.h>

TEST(VoteWinner, StrictlyGreaterFromZeroTiesToFirstKey) {
    const struct {
        VoteTable totals;
        std::string winner;
    } cases[] = {
        {{}, ""},
        {{{"b", 2}, {"a", 2}}, "a"},
        {{{"G2", 1}, {"G10", 3}}, "G10"},
        {{{"x", 0}}, ""},
        {{{"x", -4}, {"y", -1}}, ""},
        {{{"あ", 11}, {"か", 12}}, "か"},
    };
    for (const auto& c : cases) EXPECT_EQ(vote_winner(c.totals), c.winner);
}

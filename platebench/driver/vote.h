// The one vote rule: walk totals in byte-wise key order, replace the best only
// on a strictly greater total (best starts at 0), so ties go to the first key
// and an empty table gives "".
#pragma once

#include <cstdint>
#include <map>
#include <string>

using VoteTable = std::map<std::string, int32_t>;

std::string vote_winner(const VoteTable& totals);

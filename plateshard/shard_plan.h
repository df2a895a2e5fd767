// Splitting a case list into shards that one platebench run each can take.
#pragma once

#include "case_rows.h"

#include <string>
#include <vector>

// The case's folder under cases/: its image's base name, "" for a name that
// leaves the image in cases/ itself (as "." would).
std::string case_folder_name(const std::string& image_path);

// Shard index of every case, in list order. Cases of one group stay together
// (the group vote needs all its frames), and so do cases of one case folder
// (a later case overwrites an earlier one's files). Shards are balanced by
// frame count: largest cluster first, each to the least loaded shard, ties to
// the lower index, so the plan depends on the list and the count alone.
std::vector<int> assign_shards(const std::vector<CaseItem>& cases, int shard_count);
// How many shards can hold cases at all: the number of clusters above.
int cluster_count(const std::vector<CaseItem>& cases);

// Case indices of each shard, in list order.
std::vector<std::vector<size_t>> shard_cases(const std::vector<int>& shard_of, int shard_count);

// "<prefix>007.csv": at least three digits, as many as the largest index needs.
std::string shard_name(const std::string& prefix, int index, int shard_count);

// Writes dir/<prefix>NNN.csv for every shard, each with the list's header (or
// the three column names when it has none, so no row can be taken for one),
// and returns their paths.
std::vector<std::string> write_shard_lists(const CaseRows& list, const std::vector<int>& shard_of, int shard_count,
                                           const std::string& dir, const std::string& prefix);
// dir/manifest.csv: line, shard and case of every row, in list order.
void write_manifest(const CaseRows& list, const std::vector<int>& shard_of, int shard_count, const std::string& dir,
                    const std::string& prefix);

// One run's output tree rebuilt from the outputs of its shards.
#pragma once

#include "driver/platebench.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct CaseFolder {
    std::string from; // shard output + "/cases/" + name
    std::string name;
};

// Where a case's row lies in its shard's frame table.
struct RowPlace {
    int shard = 0;
    size_t offset = 0;
    size_t length = 0;
};

// Rows stay in the shards' tables until they are written, so a merge holds
// little more than the fields the group vote reads.
struct MergedRun {
    std::string input_mode;
    bool use_plate_det = false;
    std::vector<std::string> frame_tables; // each shard's frame_summary.csv
    std::vector<RowPlace> rows;            // in list order
    std::vector<FrameResult> frames;       // in list order; group_id, expected and the four fields
    int32_t frame_correct = 0;
    std::vector<CaseFolder> case_folders;
};

// Reads every shard's output and checks it against the cases the split of
// this list into that many shards gives it, shard_dirs[k] being shard k.
// Throws on the first shard that is missing, incomplete or foreign, naming
// it; writes nothing.
MergedRun read_shard_outputs(const std::vector<CaseItem>& cases, const std::vector<std::string>& shard_dirs);

// Writes output_dir as one platebench run over the whole list would have,
// the final block to out, and returns that run's exit code. move_cases takes
// the case folders away from the shard outputs instead of copying them.
int write_merged_run(const MergedRun& run, const std::string& output_dir, bool fail_on_error, bool move_cases,
                     std::ostream& out);

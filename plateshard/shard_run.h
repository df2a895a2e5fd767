// One validation run spread over shards that GNU parallel runs, here or over ssh.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct RunOptions {
    int jobs = 1;                            // parallel's -j: job slots on each machine
    int shards = 0;                          // 0: one per job slot
    std::vector<std::string> sshlogins;      // --sshlogin, each as given
    std::vector<std::string> sshlogin_files; // --slf
    std::string ssh;                         // --ssh, empty for parallel's default
    std::string platebench;                  // the program each shard runs
    std::vector<std::string> platebench_args;
};

// Whether platebench reads the next argument as this option's value.
bool platebench_takes_value(const std::string& arg);

// The platebench options of one shard: those given less the list, the output
// folder and --fail-on-error, which belong to the whole run.
std::vector<std::string> shard_platebench_args(const std::vector<std::string>& args);

// Shell words that set $pin (empty beforehand) to a taskset prefix giving parallel's job slot {%}
// its share of the machine's cores, when there are `jobs` slots a machine. One
// OpenCV thread pool a shard, sized to its cores, so that shards do not take
// turns on the same cores. Empty for one slot.
std::string pin_to_slot_cores(int jobs);

// What parallel runs for shard {} (its files are {}.csv and {}.out in the job's
// working folder), pinned as above. Remote: the output comes back as {}.tar,
// which parallel returns and then removes there.
std::string shard_command(const std::string& platebench, const std::vector<std::string>& args,
                          const std::string& cwd, bool remote, int jobs);

// Job slots parallel will have when every machine takes `jobs`: sshlogins
// count one machine each, as do the lines of the files that are no comments.
int machine_count(const RunOptions& options);

// Checks, splits, runs the shards, merges into the run's output folder and
// returns the exit code one platebench run would have; the final block goes to out.
int run_sharded(const RunOptions& options, std::ostream& out);

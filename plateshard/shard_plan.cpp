#include "shard_plan.h"

#include "driver/result_files.h"
#include "driver/text_util.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <queue>
#include <unordered_map>
#include <utility>

namespace {

// Cluster of every case, numbered by first appearance in the list.
std::vector<int> clusters(const std::vector<CaseItem>& cases) {
    std::vector<size_t> parent(cases.size());
    std::iota(parent.begin(), parent.end(), size_t{0});
    const auto root = [&](size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    std::unordered_map<std::string, size_t> by_group, by_folder;
    const auto join = [&](std::unordered_map<std::string, size_t>& seen, const std::string& key, size_t i) {
        const auto [it, fresh] = seen.emplace(key, i);
        if (!fresh) parent[root(i)] = root(it->second);
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        join(by_group, cases[i].group_id, i);
        join(by_folder, case_folder_name(cases[i].image_path), i);
    }
    std::vector<int> cluster_of(cases.size());
    std::unordered_map<size_t, int> number;
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto [it, fresh] = number.emplace(root(i), static_cast<int>(number.size()));
        cluster_of[i] = it->second;
    }
    return cluster_of;
}

} // namespace

std::string case_folder_name(const std::string& image_path) {
    const std::string name = basename_no_ext(image_path);
    return name == "." ? "" : name;
}

int cluster_count(const std::vector<CaseItem>& cases) {
    const std::vector<int> c = clusters(cases);
    return c.empty() ? 0 : *std::max_element(c.begin(), c.end()) + 1;
}

std::vector<int> assign_shards(const std::vector<CaseItem>& cases, int shard_count) {
    const std::vector<int> cluster_of = clusters(cases);
    const int n_clusters = cluster_of.empty() ? 0 : *std::max_element(cluster_of.begin(), cluster_of.end()) + 1;
    std::vector<size_t> size(n_clusters, 0);
    for (int c : cluster_of) ++size[c];

    std::vector<int> order(n_clusters);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return size[a] > size[b]; });

    using Load = std::pair<size_t, int>; // frames, shard
    std::priority_queue<Load, std::vector<Load>, std::greater<Load>> least;
    for (int s = 0; s < shard_count; ++s) least.push({0, s});
    std::vector<int> shard_of_cluster(n_clusters, 0);
    for (int c : order) {
        Load l = least.top();
        least.pop();
        shard_of_cluster[c] = l.second;
        l.first += size[c];
        least.push(l);
    }

    std::vector<int> shard_of(cases.size());
    for (size_t i = 0; i < cases.size(); ++i) shard_of[i] = shard_of_cluster[cluster_of[i]];
    return shard_of;
}

std::vector<std::vector<size_t>> shard_cases(const std::vector<int>& shard_of, int shard_count) {
    std::vector<std::vector<size_t>> shards(shard_count);
    for (size_t i = 0; i < shard_of.size(); ++i) shards[shard_of[i]].push_back(i);
    return shards;
}

std::string shard_name(const std::string& prefix, int index, int shard_count) {
    size_t width = 3;
    for (int n = shard_count - 1; n >= 1000; n /= 10) ++width;
    std::string digits = std::to_string(index);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return prefix + digits;
}

std::vector<std::string> write_shard_lists(const CaseRows& list, const std::vector<int>& shard_of, int shard_count,
                                           const std::string& dir, const std::string& prefix) {
    const std::string header = list.header.empty() ? "image_path,expected,group_id" : list.header;
    std::vector<std::string> content(shard_count, header + "\n");
    for (size_t i = 0; i < list.rows.size(); ++i) content[shard_of[i]] += list.rows[i].line + "\n";
    std::vector<std::string> paths;
    for (int s = 0; s < shard_count; ++s) {
        paths.push_back(dir + "/" + shard_name(prefix, s, shard_count) + ".csv");
        write_text_file(paths.back(), content[s]);
    }
    return paths;
}

void write_manifest(const CaseRows& list, const std::vector<int>& shard_of, int shard_count, const std::string& dir,
                    const std::string& prefix) {
    std::string content = "line,shard,image_path,group_id\n";
    for (size_t i = 0; i < list.rows.size(); ++i) {
        const CaseRow& r = list.rows[i];
        content += std::to_string(r.line_no) + "," + csv_escape(shard_name(prefix, shard_of[i], shard_count)) + "," +
                   csv_escape(r.item.image_path) + "," + csv_escape(r.item.group_id) + "\n";
    }
    write_text_file(dir + "/manifest.csv", content);
}

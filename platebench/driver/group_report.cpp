#include "driver/group_report.h"

#include "driver/frame_pipeline.h"
#include "driver/group_vote.h"

#include <map>

GroupReport group_report(const std::vector<FrameResult>& frames) {
    std::map<std::string, std::vector<FrameResult>> groups;
    for (const auto& f : frames) groups[f.group_id].push_back(f);

    GroupReport report;
    report.summary_csv = group_summary_header();
    for (const auto& [group_id, group_frames] : groups) {
        const GroupResult g = vote_group(group_frames);
        const std::string status = plate_status(g.expected, g.plate.plate_text);
        if (status == "correct") ++report.group_correct;
        else ++report.group_check_or_failed;
        ++report.group_total;
        report.summary_csv += group_summary_row(g, status);
    }
    return report;
}

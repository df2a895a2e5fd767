#include "html_report.h"

#include "field_stats.h"
#include "html_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

// Variant names of the whole-plate OCR, in the order platebench reads them.
const std::array<const char*, 5> ocr_variants = {"original", "gray", "clahe", "sharpen", "up2x"};

// Confusions shown before the rest is folded away.
constexpr size_t confusions_shown = 8;

// Case pictures wait in inert templates, so a run of thousands of frames does not
// make the browser track tens of thousands of pictures; the link "#cN" shows
// template tN in one overlay.
const char* const page_script = R"js(
function showCase() {
  var view = document.getElementById('case-view');
  var m = /^#c(\d+)$/.exec(location.hash);
  var t = m && document.getElementById('t' + m[1]);
  view.replaceChildren();
  view.hidden = !t;
  if (t) { view.appendChild(t.content.cloneNode(true)); view.scrollTop = 0; }
}
window.addEventListener('hashchange', showCase);
document.addEventListener('DOMContentLoaded', showCase);
document.addEventListener('keydown', function (e) {
  var close = document.querySelector('#case-view .close');
  if (e.key === 'Escape' && close) location.hash = close.getAttribute('href');
});
)js";

const char* const page_style = R"css(
:root { --bad: #c62828; --bad-bg: #fdecea; --ok: #2e7d32; --ok-bg: #e8f5e9; --unk: #8d6e00; --unk-bg: #fff8e1;
        --line: #d0d7de; --muted: #6a737d; }
* { box-sizing: border-box; }
body { font: 14px/1.45 system-ui, "Noto Sans CJK JP", "IPAGothic", sans-serif; margin: 0; color: #1f2328; background: #f6f8fa; }
main { padding: 16px 24px 48px; max-width: 1500px; margin: 0 auto; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 17px; margin: 28px 0 8px; }
a { color: #0969da; }
.muted { color: var(--muted); }
.small { font-size: 11px; }
.path { font-family: ui-monospace, monospace; font-size: 12px; word-break: break-all; }
.cards { display: flex; flex-wrap: wrap; gap: 12px; margin: 12px 0; }
.card { background: #fff; border: 1px solid var(--line); border-radius: 8px; padding: 10px 14px; min-width: 150px; }
.card .big { font-size: 24px; font-weight: 600; }
.card .label { color: var(--muted); font-size: 12px; text-transform: uppercase; letter-spacing: .04em; }
.bar { display: flex; height: 10px; border-radius: 5px; overflow: hidden; background: #eaeef2; margin-top: 6px; min-width: 120px; }
.bar span { display: block; height: 100%; }
.bar .correct { background: var(--ok); } .bar .check { background: var(--bad); } .bar .unknown { background: #d4a72c; }
table { border-collapse: collapse; background: #fff; border: 1px solid var(--line); width: 100%; }
th, td { border-bottom: 1px solid var(--line); padding: 5px 8px; text-align: left; vertical-align: middle; }
th { background: #f0f3f6; position: sticky; top: 0; z-index: 1; font-size: 12px; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
tr.check td { background: var(--bad-bg); }
tr.unknown td { background: var(--unk-bg); }
.st { display: inline-block; border-radius: 10px; padding: 0 8px; font-size: 12px; font-weight: 600; }
.st.correct { color: var(--ok); background: var(--ok-bg); border: 1px solid #a5d6a7; }
.st.check { color: var(--bad); background: #fff; border: 1px solid #ef9a9a; }
.st.unknown { color: var(--unk); background: #fff; border: 1px solid #e6c96a; }
.plate { font-size: 16px; white-space: nowrap; }
.f { padding: 0 2px; border-radius: 3px; }
.f.bad { background: #ffcdd2; color: #b71c1c; font-weight: 600; outline: 1px solid #e57373; }
.f.none { color: #b71c1c; font-style: italic; font-size: 12px; }
img.rect { width: 160px; height: 48px; object-fit: contain; background: #eaeef2; display: block; border-radius: 3px; }
details.ocr summary { cursor: pointer; color: var(--muted); font-size: 12px; }
details.ocr div { font-size: 12px; max-width: 420px; white-space: pre-wrap; word-break: break-all; }
.fields { display: grid; grid-template-columns: repeat(auto-fill, minmax(320px, 1fr)); gap: 12px; }
.fields table td, .fields table th { font-size: 13px; }
.acc { font-weight: 600; }
.warn { background: var(--unk-bg); border: 1px solid #e6c96a; border-radius: 6px; padding: 8px 12px; margin: 8px 0; }
.case-view { position: fixed; inset: 2vh 2vw; background: #fff; border: 1px solid var(--line); border-radius: 10px;
             box-shadow: 0 12px 48px rgba(0,0,0,.35); overflow: auto; padding: 16px 20px; z-index: 10; }
.case-view[hidden] { display: none; }
.case .close { float: right; font-size: 14px; }
.case figure { display: inline-block; margin: 0 10px 10px 0; vertical-align: top; }
.case figure img { display: block; border: 1px solid var(--line); background: #eaeef2; }
.case figure.large img { max-height: 200px; max-width: 440px; }
.case figure.mid img { max-height: 96px; max-width: 320px; }
.case figure.small img { max-height: 48px; max-width: 240px; }
.case .variant { display: flex; flex-wrap: wrap; align-items: flex-start; }
.case ul.areas { list-style: none; margin: 0 0 0 8px; padding: 0; font-size: 12px; }
.case table.reading { width: auto; margin-bottom: 4px; }
.case figcaption { font-size: 12px; color: var(--muted); }
.case h3 { margin: 14px 0 6px; font-size: 14px; }
)css";

std::string percent(long part, long whole) {
    if (whole <= 0) return "–";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return buf;
}

std::string width_pct(long part, long whole) {
    if (whole <= 0) return "0%";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f%%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return buf;
}

int status_rank(const std::string& status) {
    if (status == "check") return 0;
    if (status == "unknown") return 1;
    return 2;
}

bool is_blank(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

std::string status_badge(const std::string& status) {
    return "<span class=\"st " + html_escape(status) + "\">" + html_escape(status) + "</span>";
}

std::string stacked_bar(long correct, long check, long unknown) {
    const long total = correct + check + unknown;
    std::string s = "<div class=\"bar\">";
    s += "<span class=\"correct\" style=\"width:" + width_pct(correct, total) + "\"></span>";
    s += "<span class=\"check\" style=\"width:" + width_pct(check, total) + "\"></span>";
    s += "<span class=\"unknown\" style=\"width:" + width_pct(unknown, total) + "\"></span>";
    return s + "</div>";
}

std::string field_value(const std::string& value) {
    return value.empty() ? "<span class=\"f none\">not read</span>" : html_escape(value);
}

// Expected and read plates side by side, each field in its own span; fields that
// differ from the expectation are marked on both sides.
struct PlateCells {
    std::string expected, read;
};

PlateCells plate_cells(const std::string& expected, const PlateParts& read, const std::string& read_text,
                       const std::string& status) {
    PlateCells cells;
    PlateParts want;
    const bool split = split_plate_text(expected, want);
    const bool nothing_read = std::all_of(read.begin(), read.end(), [](const std::string& s) { return s.empty(); });
    if (is_blank(expected)) {
        cells.expected = "<span class=\"muted\">none</span>";
    } else if (!split) {
        cells.expected = "<span class=\"f" + std::string(status == "check" ? " bad" : "") + "\">" +
                         html_escape(expected) + "</span>";
    } else {
        for (size_t k = 0; k < 4; ++k) {
            const bool bad = want[k] != read[k];
            cells.expected += std::string(k ? " " : "") + "<span class=\"f" + (bad ? " bad" : "") + "\" title=\"" +
                              field_names[k] + "\">" + html_escape(want[k]) + "</span>";
        }
    }
    if (nothing_read) {
        cells.read = read_text.empty() ? "<span class=\"f none\">nothing read</span>" : html_escape(read_text);
        return cells;
    }
    for (size_t k = 0; k < 4; ++k) {
        const bool bad = split ? want[k] != read[k] : false;
        cells.read += std::string(k ? " " : "") + "<span class=\"f" + (bad ? " bad" : "") + "\" title=\"" +
                      field_names[k] + "\">" + field_value(read[k]) + "</span>";
    }
    return cells;
}

std::vector<size_t> failures_first(size_t n, const std::function<const std::string&(size_t)>& status_of) {
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return status_rank(status_of(a)) < status_rank(status_of(b)); });
    return order;
}

std::vector<std::string> split_candidates(const std::string& joined) {
    std::vector<std::string> out;
    if (joined.empty()) return out;
    size_t start = 0;
    while (true) {
        const size_t at = joined.find(" / ", start);
        out.push_back(joined.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 3;
    }
}

struct Links {
    std::string prefix; // in front of every path into the tree

    std::string file(const std::string& name) const { return html_escape(prefix + url_path(name)); }
    std::string picture(const std::string& case_name, const std::string& file) const {
        return html_escape(prefix + "cases/" + url_path(case_name) + "/" + url_path(file));
    }
};

void write_header(std::ostream& out, const RunTree& tree, const Links& links, const FieldReport& fields,
                  long kana_fallback_frames) {
    const RunTotals& t = tree.totals;
    long frame_check = 0, frame_unknown = 0, group_check = 0, group_unknown = 0;
    for (const FrameRow& f : tree.frames) {
        frame_check += f.status == "check";
        frame_unknown += f.status == "unknown";
    }
    for (const GroupRow& g : tree.groups) {
        group_check += g.status == "check";
        group_unknown += g.status == "unknown";
    }
    out << "<h1>Plate validation report</h1>\n";
    out << "<div class=\"path\">" << html_escape(tree.dir) << " &middot; <a href=\"" << links.file("FINAL_RESULT.json")
        << "\">FINAL_RESULT.json</a> &middot; <a href=\"" << links.file("frame_summary.csv")
        << "\">frame_summary.csv</a> &middot; <a href=\"" << links.file("summary.csv") << "\">summary.csv</a></div>\n";
    out << "<div class=\"cards\">\n";
    out << "<div class=\"card\"><div class=\"label\">Input mode</div><div class=\"big\">" << html_escape(t.input_mode)
        << "</div><div class=\"muted\">plate detector " << (t.use_plate_det ? "on" : "off") << "</div></div>\n";
    out << "<div class=\"card\"><div class=\"label\">Frames correct</div><div class=\"big\">"
        << percent(t.frame_correct, t.frame_total) << "</div><div>" << t.frame_correct << " of " << t.frame_total
        << " &middot; " << t.frame_check_or_failed << " check or unknown</div>"
        << stacked_bar(t.frame_correct, frame_check, frame_unknown) << "</div>\n";
    out << "<div class=\"card\"><div class=\"label\">Groups correct</div><div class=\"big\">"
        << percent(t.group_correct, t.group_total) << "</div><div>" << t.group_correct << " of " << t.group_total
        << " &middot; " << t.group_check_or_failed << " check or unknown</div>"
        << stacked_bar(t.group_correct, group_check, group_unknown) << "</div>\n";
    out << "<div class=\"card\"><div class=\"label\">Frames by status</div><div><span class=\"st check\">check</span> "
        << frame_check << " &nbsp;<span class=\"st unknown\">unknown</span> " << frame_unknown
        << "</div><div class=\"muted\">" << fields.with_expectation << " frames with an expectation</div></div>\n";
    out << "<div class=\"card\"><div class=\"label\">Kana fallback ran</div><div class=\"big\">" << kana_fallback_frames
        << "</div><div class=\"muted\">of " << tree.frames.size() << " frames</div></div>\n";
    out << "</div>\n";
    if (static_cast<long>(tree.frames.size()) != t.frame_total || static_cast<long>(tree.groups.size()) != t.group_total)
        out << "<div class=\"warn\">The tables do not match FINAL_RESULT.json: frame_summary.csv has "
            << tree.frames.size() << " rows, summary.csv has " << tree.groups.size()
            << " rows (a run that stopped early, or files from different runs).</div>\n";
}

void write_confusions(std::ostream& out, const std::vector<Confusion>& list, size_t from, size_t to) {
    for (size_t i = from; i < to && i < list.size(); ++i) {
        const Confusion& c = list[i];
        out << "<tr><td class=\"plate\">" << html_escape(c.expected) << "</td><td class=\"plate\">"
            << field_value(c.read) << "</td><td class=\"num\">" << c.count << "</td></tr>\n";
    }
}

void write_fields(std::ostream& out, const FieldReport& report) {
    out << "<h2 id=\"fields\">Fields</h2>\n";
    out << "<p class=\"muted\">Over the " << report.compared
        << " frames whose expected text has four fields (region, class number, kana, serial)";
    if (report.with_expectation != report.compared)
        out << "; left out: " << report.with_expectation - report.compared
            << " with an expectation that is not four fields";
    out << ".</p>\n";
    out << "<table><thead><tr><th>Field</th><th class=\"num\">Matched</th><th class=\"num\">Accuracy</th>"
           "<th></th><th>Most frequent confusions (expected &rarr; read)</th></tr></thead><tbody>\n";
    for (size_t k = 0; k < 4; ++k) {
        const FieldStats& s = report.fields[k];
        out << "<tr><td>" << field_names[k] << "</td><td class=\"num\">" << s.matched << " / " << report.compared
            << "</td><td class=\"num acc\">" << percent(s.matched, report.compared) << "</td><td>"
            << stacked_bar(s.matched, report.compared - s.matched, 0) << "</td><td>";
        for (size_t i = 0; i < s.confusions.size() && i < 3; ++i) {
            const Confusion& c = s.confusions[i];
            out << (i ? ", " : "") << html_escape(c.expected) << " &rarr; " << field_value(c.read) << " &times;"
                << c.count;
        }
        if (s.confusions.empty()) out << "<span class=\"muted\">none</span>";
        out << "</td></tr>\n";
    }
    out << "<tr><td><b>whole plate</b></td><td class=\"num\">" << report.plates_matched << " / " << report.compared
        << "</td><td class=\"num acc\">" << percent(report.plates_matched, report.compared) << "</td><td>"
        << stacked_bar(report.plates_matched, report.compared - report.plates_matched, 0)
        << "</td><td></td></tr>\n</tbody></table>\n";

    out << "<div class=\"fields\">\n";
    for (size_t k = 0; k < 4; ++k) {
        const auto& list = report.fields[k].confusions;
        out << "<div><h3>" << field_names[k] << " confusions</h3>\n";
        if (list.empty()) {
            out << "<p class=\"muted\">none</p></div>\n";
            continue;
        }
        out << "<table><thead><tr><th>expected</th><th>read as</th><th class=\"num\">frames</th></tr></thead><tbody>\n";
        write_confusions(out, list, 0, confusions_shown);
        out << "</tbody></table>\n";
        if (list.size() > confusions_shown) {
            out << "<details><summary>" << list.size() - confusions_shown << " more</summary><table><tbody>\n";
            write_confusions(out, list, confusions_shown, list.size());
            out << "</tbody></table></details>\n";
        }
        out << "</div>\n";
    }
    out << "</div>\n";
}

void write_groups(std::ostream& out, const RunTree& tree, const std::map<std::string, size_t>& first_frame) {
    out << "<h2 id=\"groups\">Groups <span class=\"muted\">(" << tree.groups.size()
        << ", failures first)</span></h2>\n";
    if (tree.groups.empty()) {
        out << "<p class=\"muted\">No groups.</p>\n";
        return;
    }
    out << "<table><thead><tr><th>Group</th><th>Expected</th><th>Voted reading</th><th>Status</th>"
           "<th class=\"num\">Frames</th></tr></thead><tbody>\n";
    const auto order = failures_first(tree.groups.size(), [&](size_t i) -> const std::string& {
        return tree.groups[i].status;
    });
    for (size_t i : order) {
        const GroupRow& g = tree.groups[i];
        const PlateCells cells = plate_cells(g.expected, read_parts(g), g.plate_text, g.status);
        out << "<tr class=\"" << html_escape(g.status) << "\"><td>";
        const auto first = first_frame.find(g.group_id);
        if (first != first_frame.end())
            out << "<a href=\"#f" << first->second << "\">" << html_escape(g.group_id) << "</a>";
        else
            out << html_escape(g.group_id);
        out << "</td><td class=\"plate\">" << cells.expected << "</td><td class=\"plate\">" << cells.read << "</td><td>"
            << status_badge(g.status) << "</td><td class=\"num\">" << g.frame_count << "</td></tr>\n";
    }
    out << "</tbody></table>\n";
}

void write_frames(std::ostream& out, const RunTree& tree, const Links& links, const std::vector<FrameFacts>& facts,
                  const std::map<std::string, size_t>& case_index) {
    out << "<h2 id=\"frames\">Frames <span class=\"muted\">(" << tree.frames.size()
        << ", failures first, then case order)</span></h2>\n";
    if (tree.frames.empty()) {
        out << "<p class=\"muted\">No frames.</p>\n";
        return;
    }
    out << "<table><thead><tr><th class=\"num\">#</th><th>Rectified plate</th><th>Expected</th><th>Read</th>"
           "<th>Status</th><th>Kana fallback</th><th>Group</th><th>Image</th><th>OCR texts</th><th>Debug</th>"
           "</tr></thead><tbody>\n";
    const auto order = failures_first(tree.frames.size(), [&](size_t i) -> const std::string& {
        return tree.frames[i].status;
    });
    for (size_t i : order) {
        const FrameRow& f = tree.frames[i];
        const std::string& name = facts[i].case_name;
        const CaseDir& dir = tree.cases.at(name);
        const PlateCells cells = plate_cells(f.expected, read_parts(f), f.plate_text, f.status);
        out << "<tr id=\"f" << i << "\" class=\"" << html_escape(f.status) << "\"><td class=\"num\">" << i + 1
            << "</td><td>";
        if (dir.has("rectified_plate.jpg")) {
            out << "<img class=\"rect\" loading=\"lazy\" decoding=\"async\" width=\"160\" height=\"48\" alt=\"\" src=\""
                << links.picture(name, "rectified_plate.jpg") << "\">";
            if (facts[i].picture_frame != i)
                out << "<div class=\"muted small\">picture of frame " << facts[i].picture_frame + 1 << "</div>";
        } else {
            out << "<span class=\"muted\">no picture</span>";
        }
        out << "</td><td class=\"plate\">" << cells.expected << "</td><td class=\"plate\">" << cells.read << "</td><td>"
            << status_badge(f.status) << "</td><td>";
        switch (facts[i].fallback) {
        case KanaFallback::ran: out << "ran"; break;
        case KanaFallback::not_ran: out << "<span class=\"muted\">no</span>"; break;
        case KanaFallback::unsure:
            out << "<span class=\"muted\" title=\"the case folder holds frame " << facts[i].picture_frame + 1
                << "'s pictures\">?</span>";
            break;
        }
        out << "</td><td>" << html_escape(f.group_id) << "</td><td class=\"path\">" << html_escape(f.image_path)
            << "</td><td>";
        const auto candidates = split_candidates(f.ocr_texts);
        if (candidates.empty()) {
            out << "<span class=\"muted\">none</span>";
        } else {
            out << "<details class=\"ocr\"><summary>" << candidates.size()
                << (candidates.size() == 1 ? " candidate" : " candidates") << "</summary><div>";
            for (size_t c = 0; c < candidates.size(); ++c) out << (c ? "\n" : "") << html_escape(candidates[c]);
            out << "</div></details>";
        }
        out << "</td><td>";
        // The folder link also serves browsers that run no scripts.
        if (dir.exists)
            out << "<a href=\"#c" << case_index.at(name) << "\">pictures</a> <a class=\"small\" href=\""
                << html_escape(links.prefix + "cases/" + url_path(name) + "/") << "\">folder</a>";
        else out << "<span class=\"muted\">no case folder</span>";
        out << "</td></tr>\n";
    }
    out << "</tbody></table>\n";
}

// Only the large pictures link to the file at full size: a case has dozens of
// small ones, and a run thousands of cases, all in one page.
void write_figure(std::ostream& out, const Links& links, const CaseDir& dir, const std::string& file,
                  const std::string& caption_html, const char* size_class) {
    const std::string src = links.picture(dir.name, file);
    const bool linked = std::string(size_class) == "large";
    out << "<figure class=\"" << size_class << "\">";
    if (linked) out << "<a href=\"" << src << "\">";
    out << "<img alt=\"\" src=\"" << src << "\">";
    if (linked) out << "</a>";
    out << "<figcaption>" << caption_html << "</figcaption></figure>";
}

// OCR candidates by source tag ("original_det_crop_0", "gray_full", ...); a
// source read several times keeps its first text.
std::map<std::string, std::string> candidates_by_source(const std::string& ocr_texts) {
    std::map<std::string, std::string> out;
    for (const std::string& c : split_candidates(ocr_texts)) {
        const size_t colon = c.find(':');
        if (colon != std::string::npos) out.emplace(c.substr(0, colon), c.substr(colon + 1));
    }
    return out;
}

std::string reading_caption(const std::map<std::string, std::string>& read, const std::string& source,
                            const std::string& label) {
    const auto it = read.find(source);
    return html_escape(label) + ": " +
           (it == read.end() ? std::string("<span class=\"muted\">nothing</span>")
                             : "<b class=\"plate\">" + html_escape(it->second) + "</b>");
}

// The numbered crops of one variant, in number order.
std::vector<std::string> crops_of(const CaseDir& dir, const std::string& variant) {
    std::vector<std::pair<long, std::string>> numbered;
    const std::string head = "ocr_" + variant + "_crop_";
    for (const std::string& f : dir.pictures) {
        if (f.compare(0, head.size(), head) != 0) continue;
        const std::string digits = f.substr(head.size(), f.size() - head.size() - 4);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        numbered.push_back({std::stol(digits), f});
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> out;
    for (const auto& n : numbered) out.push_back(n.second);
    return out;
}

void write_case(std::ostream& out, const Links& links, const CaseDir& dir, size_t index,
                const std::vector<size_t>& frames, const RunTree& tree) {
    // With a shared folder the pictures are the last frame's, so its readings go with them.
    const FrameRow& shown_frame = tree.frames[frames.back()];
    const PlateCells cells =
        plate_cells(shown_frame.expected, read_parts(shown_frame), shown_frame.plate_text, shown_frame.status);
    out << "<template id=\"t" << index << "\"><div class=\"case\"><a class=\"close\" href=\"#f" << frames.front()
        << "\">close &times;</a>\n<h2>Case " << html_escape(dir.name) << "</h2>\n<p>";
    for (size_t k = 0; k < frames.size(); ++k) {
        const FrameRow& f = tree.frames[frames[k]];
        out << (k ? "<br>" : "") << "frame " << frames[k] + 1 << ": <span class=\"path\">" << html_escape(f.image_path)
            << "</span> " << status_badge(f.status);
    }
    if (frames.size() > 1)
        out << "<br><span class=\"muted\">These frames share one case folder; its pictures and the readings below are "
               "those of the last of them.</span>";
    out << "</p>\n<table class=\"reading\"><tr><th>Expected</th><td class=\"plate\">" << cells.expected
        << "</td></tr><tr><th>Read</th><td class=\"plate\">" << cells.read << "</td></tr></table>\n";
    const auto read = candidates_by_source(shown_frame.ocr_texts);
    std::vector<std::string> shown;
    auto figure = [&](const std::string& file, const std::string& caption_html, const char* size_class) {
        if (!dir.has(file)) return;
        write_figure(out, links, dir, file, caption_html, size_class);
        shown.push_back(file);
    };
    out << "<h3>Plate</h3>\n";
    figure("plate_det_debug.jpg", "plate detection", "large");
    figure("plate_roi.jpg", "plate region", "large");
    figure("corner_debug.jpg", "corners", "large");
    figure("rectified_plate.jpg", "rectified plate", "large");
    out << "\n";
    for (const char* v : ocr_variants) {
        const std::string variant = v;
        const auto crops = crops_of(dir, variant);
        if (!dir.has("ocr_variant_" + variant + ".jpg") && !dir.has("ocr_variant_" + variant + "_det_boxes.jpg") &&
            crops.empty())
            continue;
        out << "<h3>Variant " << html_escape(variant) << "</h3>\n<div class=\"variant\">";
        figure("ocr_variant_" + variant + "_det_boxes.jpg", "text boxes", "mid");
        figure("ocr_variant_" + variant + "_det_mask.jpg", "text mask", "mid");
        for (const std::string& c : crops) {
            const std::string k = c.substr(c.rfind('_') + 1, c.size() - c.rfind('_') - 5);
            figure(c, reading_caption(read, variant + "_det_crop_" + k, "box " + k), "small");
        }
        out << "<ul class=\"areas\">";
        for (const char* area : {"full", "upper_row", "lower_row", "serial_area"})
            out << "<li>" << reading_caption(read, variant + "_" + area, area) << "</li>";
        out << "</ul></div>\n";
        // The plain variant picture adds little next to its boxes; it is shown only without them.
        if (!dir.has("ocr_variant_" + variant + "_det_boxes.jpg")) figure("ocr_variant_" + variant + ".jpg", "picture", "mid");
        else shown.push_back("ocr_variant_" + variant + ".jpg");
    }
    const int fallback = dir.kana_fallback_pictures();
    if (fallback > 0)
        out << "<h3>Kana fallback</h3>\n<p>" << fallback << " kana-area pictures in <a href=\""
            << html_escape(links.prefix + "cases/" + url_path(dir.name) + "/") << "\">the case folder</a>.</p>\n";
    std::sort(shown.begin(), shown.end());
    bool other_heading = false;
    for (const std::string& f : dir.pictures) {
        if (std::binary_search(shown.begin(), shown.end(), f) || f.compare(0, 14, "kana_fallback_") == 0) continue;
        if (!other_heading) out << "<h3>Other pictures</h3>\n";
        other_heading = true;
        write_figure(out, links, dir, f, html_escape(f.substr(0, f.size() - 4)), "mid");
    }
    out << "</div></template>\n";
}

} // namespace

std::string render_report(const RunTree& tree, const std::string& tree_prefix) {
    const Links links{tree_prefix};
    const FieldReport fields = field_report(tree.frames);

    const std::vector<FrameFacts> facts = frame_facts(tree);
    std::map<std::string, size_t> first_frame;
    std::map<std::string, std::vector<size_t>> frames_of_case;
    long kana_fallback_frames = 0;
    for (size_t i = 0; i < tree.frames.size(); ++i) {
        first_frame.emplace(tree.frames[i].group_id, i);
        frames_of_case[facts[i].case_name].push_back(i);
        kana_fallback_frames += facts[i].fallback == KanaFallback::ran;
    }
    std::map<std::string, size_t> case_index;
    for (const auto& entry : tree.cases) case_index.emplace(entry.first, case_index.size());

    std::ostringstream out;
    out << "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Plate validation report: "
        << html_escape(tree.dir) << "</title>\n<style>" << page_style << "</style>\n</head>\n<body>\n<main>\n";
    write_header(out, tree, links, fields, kana_fallback_frames);
    write_fields(out, fields);
    write_groups(out, tree, first_frame);
    write_frames(out, tree, links, facts, case_index);
    for (const auto& entry : tree.cases) {
        if (entry.second.exists)
            write_case(out, links, entry.second, case_index.at(entry.first), frames_of_case.at(entry.first), tree);
    }
    out << "<section id=\"case-view\" class=\"case-view\" hidden></section>\n</main>\n<script>" << page_script
        << "</script>\n</body>\n</html>\n";
    return out.str();
}

void write_text_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("failed to write: " + path);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("failed to write: " + path);
}

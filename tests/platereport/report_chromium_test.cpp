// Opens a generated report in headless Chromium: the page must load without
// errors and every picture it links must decode. Skipped without Chromium,
// except in CI (CI=true), where its absence is a failure.
#include "tree_builder.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// After the page's own start-up, copies every case template into the page, forces every lazy picture to load,
// waits for all of them, and appends one line with the counts to the page,
// which --dump-dom then prints.
const char* const check_script = R"js(<script>
var pageErrors = [];
window.addEventListener('error', function (e) {
  pageErrors.push(e.message || (e.target && e.target.getAttribute && e.target.getAttribute('src')) || 'error');
}, true);
document.addEventListener('DOMContentLoaded', function () { setTimeout(function () {
  var holder = document.createElement('div');
  holder.style.display = 'none';
  Array.prototype.forEach.call(document.querySelectorAll('template'), function (t) {
    holder.appendChild(t.content.cloneNode(true));
  });
  document.body.appendChild(holder);
  var imgs = Array.prototype.slice.call(document.images);
  imgs.forEach(function (i) { i.loading = 'eager'; });
  var timer = setInterval(function () {
    if (!imgs.every(function (i) { return i.complete; })) return;
    clearInterval(timer);
    var broken = imgs.filter(function (i) { return i.naturalWidth === 0; })
                     .map(function (i) { return i.getAttribute('src'); });
    var line = document.createElement('pre');
    line.textContent = 'CHECK images=' + imgs.length + ' broken=' + broken.length + ' errors=' + pageErrors.length +
                       ' END ' + broken.join(' ') + ' ' + pageErrors.join(' | ');
    document.body.appendChild(line);
  }, 50);
}, 0); });
</script>)js";

std::string chromium_path() {
    for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (fs::exists(p)) return p;
    return "";
}

void write_picture(const fs::path& path, int w, int h, const std::string& label) {
    cv::Mat m(h, w, CV_8UC3, cv::Scalar(230, 230, 230));
    cv::putText(m, label, cv::Point(4, h / 2), cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(0, 0, 0), 1);
    fs::create_directories(path.parent_path());
    ASSERT_TRUE(cv::imwrite(path.string(), m)) << path;
}

} // namespace

TEST(PlatereportChromium, LoadsWithoutErrorsAndEveryPictureResolves) {
    const std::string chromium = chromium_path();
    if (chromium.empty()) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "chromium is not installed (apt-get install chromium)";
        GTEST_SKIP() << "chromium is not installed (apt-get install chromium); browser check skipped";
    }

    const fs::path work = scratch_dir("chromium");
    TestTree t;
    t.frames = {
        {"g 1", "imgs/plate #1.jpg", "品川 300 あ 12-34", "品川 300 お 12-34", "check", "品川", "300", "お", "12-34",
         "original_full:品川 300 お 12-34"},
        {"g2", "imgs/b.jpg", "湘南 555 り 95-93", "湘南 555 り 95-93", "correct", "湘南", "555", "り", "95-93", ""},
    };
    t.groups = {
        {"g 1", "品川 300 あ 12-34", "品川 300 お 12-34", "check", "品川", "300", "お", "12-34", "1"},
        {"g2", "湘南 555 り 95-93", "湘南 555 り 95-93", "correct", "湘南", "555", "り", "95-93", "1"},
    };
    write_tree(work / "run", t);
    for (const std::string name : {"plate #1", "b"}) {
        const fs::path dir = work / "run" / "cases" / name;
        write_picture(dir / "rectified_plate.jpg", 320, 96, name);
        write_picture(dir / "plate_roi.jpg", 200, 80, "roi");
        write_picture(dir / "corner_debug.jpg", 200, 80, "corners");
        write_picture(dir / "ocr_variant_original_det_boxes.jpg", 320, 96, "boxes");
        write_picture(dir / "ocr_original_crop_0.jpg", 120, 40, "crop");
    }
    const CommandResult made = run_command({PLATEREPORT_BIN, "run"}, work);
    ASSERT_EQ(made.exit_code, 0) << made.err;

    std::string html = slurp(work / "run" / "report.html");
    const size_t head = html.find("<head>");
    ASSERT_NE(head, std::string::npos);
    html.insert(head + 6, check_script);
    spit(work / "run" / "check.html", html);

    const auto dump_dom = [&](const std::string& url, const std::string& profile_name) {
        const fs::path profile = work / profile_name;
        fs::create_directories(profile);
        return run_command({"timeout", "180", chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                            "--disable-background-networking", "--disable-component-update", "--disable-sync",
                            "--user-data-dir=" + profile.string(), "--virtual-time-budget=20000", "--dump-dom", url},
                           work);
    };
    const std::string page = "file://" + (work / "run" / "check.html").string();
    const CommandResult r = dump_dom(page, "profile");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const size_t at = r.out.find("<pre>CHECK ");
    ASSERT_NE(at, std::string::npos) << "the page did not finish loading its pictures:\n" << r.err;
    const std::string line = r.out.substr(at + 5, r.out.find(" END", at) - at - 5);
    EXPECT_EQ(line, "CHECK images=12 broken=0 errors=0") << r.out.substr(at, 2000);
    EXPECT_NE(r.out.find("Plate validation report"), std::string::npos);
    EXPECT_NE(r.out.find("<section id=\"case-view\" class=\"case-view\" hidden=\"\"></section>"), std::string::npos);

    // The link of a frame's pictures opens that case in the overlay.
    const CommandResult opened = dump_dom(page + "#c0", "profile_c0");
    ASSERT_EQ(opened.exit_code, 0) << opened.err;
    EXPECT_NE(opened.out.find("<section id=\"case-view\" class=\"case-view\"><div class=\"case\">"), std::string::npos);
    EXPECT_NE(opened.out.find("<h2>Case b</h2>"), std::string::npos);
    EXPECT_NE(opened.out.find("<pre>CHECK images=17 broken=0 errors=0 END"), std::string::npos);
}

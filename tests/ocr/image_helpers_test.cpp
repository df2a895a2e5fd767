#include "ocr/image_helpers.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <limits>

namespace {

cv::Mat test_picture(int w, int h) {
    cv::Mat bgr(h, w, CV_8UC3);
    cv::randu(bgr, 0, 256);
    return bgr;
}

} // namespace

TEST(CropRatio, FixedPlateAreas) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        int w, h;
        float left, top, right, bottom;
        cv::Rect want;
    };
    const Case cases[] = {
        {320, 96, 0.0f, 0.0f, 1.0f, 0.5f, {0, 0, 320, 48}},
        {320, 96, 0.0f, 0.38f, 1.0f, 1.0f, {0, 36, 320, 60}},
        {320, 96, 0.28f, 0.38f, 1.0f, 1.0f, {89, 36, 231, 60}},
        {640, 192, 0.0f, 0.0f, 1.0f, 0.5f, {0, 0, 640, 96}},
        {640, 192, 0.0f, 0.38f, 1.0f, 1.0f, {0, 72, 640, 120}},
        {640, 192, 0.28f, 0.38f, 1.0f, 1.0f, {179, 72, 461, 120}},
        {100, 50, 0.8f, 0.6f, 0.2f, 0.1f, {80, 30, 1, 1}},     // wrong order: one pixel
        {100, 50, -1.0f, -1.0f, 2.0f, 2.0f, {0, 0, 100, 50}},   // clamped to the picture
        {100, 50, 1.0f, 1.0f, 1.0f, 1.0f, {99, 49, 1, 1}},
        {100, 50, nan, 0.0f, 1.0f, 1.0f, {99, 0, 1, 50}},       // NaN takes the upper limit
    };
    for (const Case& c : cases) {
        const cv::Mat image = test_picture(c.w, c.h);
        const cv::Mat crop = crop_ratio(image, c.left, c.top, c.right, c.bottom);
        ASSERT_EQ(crop.size(), c.want.size()) << c.left << " " << c.top << " " << c.right << " " << c.bottom;
        EXPECT_EQ(cv::norm(crop, image(c.want), cv::NORM_INF), 0.0);
        EXPECT_NE(crop.data, image(c.want).data); // a copy
    }
}

TEST(ImageVariants, GrayHasThreeEqualChannels) {
    const cv::Mat image = test_picture(40, 20);
    const cv::Mat gray = make_gray_bgr(image);
    ASSERT_EQ(gray.type(), CV_8UC3);
    cv::Mat single;
    cv::cvtColor(image, single, cv::COLOR_BGR2GRAY);
    std::vector<cv::Mat> channels;
    cv::split(gray, channels);
    for (const cv::Mat& c : channels) EXPECT_EQ(cv::norm(c, single, cv::NORM_INF), 0.0);
}

TEST(ImageVariants, ClaheAndSharpenKeepSizeAndType) {
    const cv::Mat image = test_picture(320, 96);
    for (const cv::Mat& v : {make_clahe_bgr(image), make_sharpen_bgr(image)}) {
        EXPECT_EQ(v.size(), image.size());
        EXPECT_EQ(v.type(), CV_8UC3);
        EXPECT_NE(v.data, image.data);
    }
}

TEST(ImageVariants, SharpenKeepsFlatAreasAndOvershootsEdges) {
    const cv::Mat flat(20, 30, CV_8UC3, cv::Scalar(100, 150, 200));
    EXPECT_EQ(cv::norm(make_sharpen_bgr(flat), flat, cv::NORM_INF), 0.0);
    // An edge overshoots: 1.6 * 255 - 0.6 * blur saturates at 255 and below 0.
    cv::Mat edge(20, 30, CV_8UC3, cv::Scalar(0, 0, 0));
    edge(cv::Rect(15, 0, 15, 20)).setTo(cv::Scalar(200, 200, 200));
    const cv::Mat sharp = make_sharpen_bgr(edge);
    EXPECT_GT(sharp.at<cv::Vec3b>(10, 15)[0], 200);
    EXPECT_EQ(sharp.at<cv::Vec3b>(10, 14)[0], 0);
}

// Plate detection in a scene.
#pragma once

#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

struct PlateDetection {
    cv::Rect box; // scene pixels, inside the scene
    float score = 0.0f;
};

// Six-value rows of one output tensor, best score first.
std::vector<PlateDetection> parse_detection_output_as_n6(const std::vector<float>& values, int img_w, int img_h,
                                                         float thresh);

// Never empty: a null model or no surviving row gives the whole scene.
std::vector<PlateDetection> run_plate_det(RknnModel* model, const cv::Mat& scene, float thresh,
                                          const std::string& out_dir);

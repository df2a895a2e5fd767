// Whole-plate OCR: five picture variants, detected boxes and fixed plate areas.
#pragma once

#include "ocr/ocr_types.h"
#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// Appends {source, trim(text)} unless the trimmed text is empty.
void add_text_if_valid(std::vector<OcrText>& list, const std::string& source, const std::string& text);

// Reads each box's overlap with the picture, numbering only the boxes read; writes every crop as
// case_dir + "/ocr_" + name + "_crop_" + number + ".jpg" and tags it name + "_det_crop_" + number.
void read_detected_boxes(RknnModel& rec_model, const cv::Mat& picture, const std::vector<TextBox>& boxes,
                         const std::vector<std::string>& dict, const std::string& case_dir, const std::string& name,
                         std::vector<OcrText>& texts);

std::vector<OcrText> run_whole_plate_ocr_variants(RknnModel& det_model, RknnModel& rec_model, const cv::Mat& plate,
                                                  const std::vector<std::string>& dict, const std::string& case_dir);

// Whole-plate OCR: five picture variants, detected boxes and fixed plate areas.
#pragma once

#include "ocr/ocr_types.h"
#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// Appends {source, trim(text)} unless the trimmed text is empty.
void add_text_if_valid(std::vector<OcrText>& list, const std::string& source, const std::string& text);

std::vector<OcrText> run_whole_plate_ocr_variants(RknnModel& det_model, RknnModel& rec_model, const cv::Mat& plate,
                                                  const std::vector<std::string>& dict, const std::string& case_dir);

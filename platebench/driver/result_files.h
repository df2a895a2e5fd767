// The per-frame records: result.txt, result.json and the frame summary row.
#pragma once

#include "driver/platebench.h"

#include <string>
#include <vector>

// Each candidate as source + ":" + text, in OCR order.
std::vector<std::string> candidate_strings(const std::vector<OcrText>& texts);

std::string result_txt(const FrameResult& frame, const std::string& status);
std::string result_json(const FrameResult& frame, const std::string& status);
std::string frame_summary_header();
std::string frame_summary_row(const FrameResult& frame, const std::string& status);

// Replaces the file whole (see write_file_replacing); throws
// "failed to write file: " + path.
void write_text_file(const std::string& path, const std::string& content);

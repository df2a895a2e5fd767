// Debug pictures: JPEG with default parameters; a failed write is ignored.
// The encoding runs on one background thread, in the order the pictures were
// handed over, so that it overlaps the model runs that follow.
#pragma once

#include <opencv2/core.hpp>

#include <string>

// Queues a copy of the picture; returns at once unless the queue is full.
void write_debug_picture(const std::string& path, const cv::Mat& picture);

// Returns once every picture queued so far is written (or its write failed).
// The driver calls it before a frame's records, so a frame's pictures are on
// disk whenever its result files and its table row are.
void finish_debug_pictures();

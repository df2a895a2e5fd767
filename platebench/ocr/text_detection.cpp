#include "ocr/text_detection.h"

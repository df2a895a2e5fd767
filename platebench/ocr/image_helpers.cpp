#include "ocr/image_helpers.h"

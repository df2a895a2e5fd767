#include "ocr/ocr_variants.h"

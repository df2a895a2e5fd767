#include "ocr/text_recognition.h"

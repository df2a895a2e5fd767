#include "driver/frame_pipeline.h"

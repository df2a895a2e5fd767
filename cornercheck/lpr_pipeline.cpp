#include "lpr_pipeline.h"

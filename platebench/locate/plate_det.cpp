#include "locate/plate_det.h"

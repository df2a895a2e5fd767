#include "locate/plate_corner.h"

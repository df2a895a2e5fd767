#include "rknn_model.h"

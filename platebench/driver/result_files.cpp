#include "driver/result_files.h"

#include "parse/plate_parser.h"

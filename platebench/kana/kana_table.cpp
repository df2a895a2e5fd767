#include "kana/kana_table.h"

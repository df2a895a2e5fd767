#include "kana/kana_decode.h"

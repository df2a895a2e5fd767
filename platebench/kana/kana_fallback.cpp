#include "kana/kana_fallback.h"

#include "driver/group_vote.h"

/* Asks the runtime a command number it does not know, as a C caller may.
 * Written in C, where an enum holds any int; in C++ merely passing such a
 * value would be undefined. */
#include "rknn_api.h"

int query_unknown_command(rknn_context ctx, void* info, uint32_t size) {
    return rknn_query(ctx, (rknn_query_cmd)99, info, size);
}

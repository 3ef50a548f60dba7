#include "platform/process.h"

static ProcessFlags g_flags;

ProcessFlags &process_flags() {
    return g_flags;
}

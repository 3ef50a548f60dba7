#include "track/hooks.h"

static TrackHooks g_hooks;

const TrackHooks &track_hooks() {
    return g_hooks;
}

void track_hooks_install(const TrackHooks &hooks) {
    g_hooks = hooks;
}

#include "core/datacheck.h"
#include "core/startup.h"

// Written by the content generator at build time: the digests of the data it installs.
#include "data_digests.h"

int main(int argc, char **argv) {
    return app_main(argc, argv, DataDigests{VQ_GAME_DATA_DIGEST, VQ_PHYSICS_DIGEST});
}

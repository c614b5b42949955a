// vela-update: the updater without a window, for scripts, kiosks and a desk
// of calculators.
#include "cli/vela_update.h"

int main(int argc, char** argv) {
    return velaUpdateMain(argc, argv);
}

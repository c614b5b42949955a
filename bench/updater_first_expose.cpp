// The updater as it starts, with the start-up benchmark's probe: it prints
// when its window is first exposed, and ends.
#include "app/updater_main.h"
#include "bench/startup_probe.h"

int main(int argc, char** argv) {
    return runUpdater(argc, argv, installStartupProbe);
}

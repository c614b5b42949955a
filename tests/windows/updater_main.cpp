// Updater with the test's SetupAPI: the same start as the product's.
#include "app/updater_main.h"

int main(int argc, char** argv) {
    return runUpdater(argc, argv);
}

// vela-update with the test's SetupAPI: the same process as the product's.
#include "cli/vela_update.h"

int main(int argc, char** argv) {
    return velaUpdateMain(argc, argv);
}

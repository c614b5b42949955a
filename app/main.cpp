#include "app/updater_main.h"

int main(int argc, char** argv) {
    return runUpdater(argc, argv);
}

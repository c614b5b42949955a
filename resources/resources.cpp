#include "resources/resources.h"

#include <QtGlobal>

static void initImages() {
    Q_INIT_RESOURCE(images);
}

void initUpdaterResources() {
    initImages();
}

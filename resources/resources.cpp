#include "resources/resources.h"

#include <QtGlobal>

static void initImages() {
    Q_INIT_RESOURCE(images);
#ifdef UPDATER_EMBEDDED_QT_TRANSLATIONS
    Q_INIT_RESOURCE(qt_translations);
#endif
}

void initUpdaterResources() {
    initImages();
}

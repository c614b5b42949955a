// The yardstick of the start-up benchmark: the smallest Qt Widgets program
// that shows a dialog, with the same first-expose probe as the updater.
#include "bench/startup_probe.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    installStartupProbe(application);
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Waiting for connection..."), &dialog));
    layout->addWidget(new QPushButton(QStringLiteral("Cancel"), &dialog));
    dialog.show();
    return QApplication::exec();
}

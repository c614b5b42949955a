#pragma once

#include <QList>
#include <QString>

#include <cstdint>

// One firmware image to install: where it is, and where on the update disk
// its first byte goes.
struct FirmwareFile {
    QString path; // absolute, with the platform's native separators
    std::uint64_t diskOffset = 0;
};

using FirmwareFileList = QList<FirmwareFile>;

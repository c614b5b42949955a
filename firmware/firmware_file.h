#pragma once

#include "base/sha256.h"

#include <QList>
#include <QString>

#include <cstdint>

// One firmware image to install: where it is, where on the update disk its
// first byte goes, and what it held when it was checked.
struct FirmwareFile {
    QString path; // absolute, with the platform's native separators
    std::uint64_t diskOffset = 0;
    std::uint64_t size = 0;
    Sha256::Digest sha256{};
};

using FirmwareFileList = QList<FirmwareFile>;

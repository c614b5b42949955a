// A firmware folder for whole-run tests, and a check of what the virtual
// calculator holds.
#pragma once

#include "device/virtual/virtual_calculator.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <vector>

struct FirmwareImage {
    QString name;
    quint64 offset;
    QByteArray bytes;
};

// Writes the three new-scheme images, of random bytes and the given sizes
// (application, master, system), into dir.
inline QList<FirmwareImage> makeFirmware(const QString& dir, const int (&sizes)[3],
                                         quint32 seed = 1) {
    QList<FirmwareImage> images = {
        {"VELA_APP.DAT", 0x500000, {}}, {"VELA_MAIN.DAT", 0x100000, {}}, {"VELA_OS.ROM", 0, {}}};
    for (int i = 0; i < images.size(); ++i) {
        QByteArray bytes(sizes[i], Qt::Uninitialized);
        QRandomGenerator rng(seed + static_cast<quint32>(i));
        for (char& c : bytes)
            c = static_cast<char>(rng.generate());
        images[i].bytes = bytes;
        QFile file(dir + '/' + images[i].name);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    return images;
}

// True when the unit holds the image at its offset, byte for byte.
inline bool unitHolds(int unit, const FirmwareImage& image) {
    const std::vector<std::uint8_t> stored =
        virtual_calculator::readUnit(unit, image.offset, static_cast<size_t>(image.bytes.size()));
    return QByteArray(reinterpret_cast<const char*>(stored.data()), int(stored.size())) ==
           image.bytes;
}

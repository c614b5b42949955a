#include "firmware/firmware_scan.h"

#include <QDir>

#include <algorithm>
#include <array>

namespace {

struct Role {
    const char* legacyName;
    const char* newName;
    std::uint64_t diskOffset;
};

constexpr std::array<Role, 3> kRoles = {{
    {"PROGPACK.DAT", "VELA_APP.DAT", 0x500000}, // application image
    {"SYSIMAGE.ROM", "VELA_OS.ROM", 0},         // system image
    {"TABLES.DAT", "VELA_MAIN.DAT", 0x100000},  // master image
}};

// Index into kRoles of the file name under the given scheme, or -1.
int roleOf(const QString& name, bool newScheme) {
    const QString upper = name.toUpper();
    for (size_t i = 0; i < kRoles.size(); ++i) {
        const char* wanted = newScheme ? kRoles[i].newName : kRoles[i].legacyName;
        if (upper == QLatin1String(wanted))
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

QFileInfoList firmwareFolderListing(const QString& folder) {
    if (folder.isEmpty())
        return {};
    const QDir dir(folder);
    if (!dir.exists())
        return {};
    // Hidden files are left out unless QDir::Hidden is asked for.
    QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    std::stable_sort(entries.begin(), entries.end(), [](const QFileInfo& a, const QFileInfo& b) {
        const QString x = a.fileName().toLower();
        const QString y = b.fileName().toLower();
        return std::lexicographical_compare(x.utf16(), x.utf16() + x.size(), y.utf16(),
                                            y.utf16() + y.size());
    });
    return entries;
}

bool isNewSchemeFileName(const QString& name) {
    return roleOf(name, true) >= 0;
}

FirmwareScan scanFirmwareFiles(const QString& folder) {
    FirmwareScan scan;
    const QFileInfoList listing = firmwareFolderListing(folder);
    for (const QFileInfo& entry : listing) {
        if (!entry.isDir() && isNewSchemeFileName(entry.fileName())) {
            scan.newNamingScheme = true;
            break;
        }
    }

    std::array<int, kRoles.size()> perRole{};
    for (const QFileInfo& entry : listing) {
        if (entry.isDir())
            continue;
        const int role = roleOf(entry.fileName(), scan.newNamingScheme);
        if (role < 0)
            continue;
        ++perRole[static_cast<size_t>(role)];
        scan.files.append(FirmwareFile{QDir::toNativeSeparators(entry.absoluteFilePath()),
                                       kRoles[static_cast<size_t>(role)].diskOffset});
    }
    // On a case-sensitive file system two spellings of one name both match;
    // a set with a role twice would leave another image unwritten.
    const bool complete = std::all_of(perRole.begin(), perRole.end(), [](int n) { return n == 1; });
    if (!complete)
        scan.files.clear();
    return scan;
}

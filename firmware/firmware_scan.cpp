#include "firmware/firmware_scan.h"

#include <QDir>

#include <algorithm>
#include <array>

namespace {

struct Role {
    const char* legacyName;
    const char* newName;
    std::uint64_t diskOffset;
    // The room before the next image's offset: a longer image would overwrite
    // the start of the image written after it. 0: no image follows.
    std::int64_t maxBytes;
};

constexpr std::array<Role, 3> kRoles = {{
    {"PROGPACK.DAT", "VELA_APP.DAT", 0x500000, 0},       // application image
    {"SYSIMAGE.ROM", "VELA_OS.ROM", 0, 0x100000},        // system image
    {"TABLES.DAT", "VELA_MAIN.DAT", 0x100000, 0x400000}, // master image
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

bool isLegacySchemeFileName(const QString& name) {
    return roleOf(name, false) >= 0;
}

FirmwareScan scanFirmwareFiles(const QString& folder) {
    FirmwareScan scan;
    // Only a regular file (after following links) is a firmware image: a link
    // to a device would be "installed" from endless zeros or nothing at all,
    // and a FIFO would hold the transfer forever.
    QFileInfoList listing = firmwareFolderListing(folder);
    QStringList notFiles;
    listing.erase(std::remove_if(listing.begin(), listing.end(),
                                 [&notFiles](const QFileInfo& entry) {
                                     if (entry.isFile())
                                         return false;
                                     if (!entry.isDir() &&
                                         (isNewSchemeFileName(entry.fileName()) ||
                                          isLegacySchemeFileName(entry.fileName())))
                                         notFiles << entry.fileName();
                                     return true;
                                 }),
                  listing.end());
    for (const QFileInfo& entry : listing) {
        if (isNewSchemeFileName(entry.fileName())) {
            scan.newNamingScheme = true;
            break;
        }
    }

    std::array<int, kRoles.size()> perRole{};
    QStringList tooLarge;
    for (const QFileInfo& entry : listing) {
        const int role = roleOf(entry.fileName(), scan.newNamingScheme);
        if (role < 0)
            continue;
        const Role& wanted = kRoles[static_cast<size_t>(role)];
        ++perRole[static_cast<size_t>(role)];
        if (wanted.maxBytes > 0 && entry.size() > wanted.maxBytes)
            tooLarge << QStringLiteral("%1 is %2 bytes too large (%3 bytes; at most %4 fit "
                                       "before the next image)")
                            .arg(entry.fileName())
                            .arg(entry.size() - wanted.maxBytes)
                            .arg(entry.size())
                            .arg(wanted.maxBytes);
        scan.files.append(
            FirmwareFile{QDir::toNativeSeparators(entry.absoluteFilePath()), wanted.diskOffset});
    }
    // On a case-sensitive file system two spellings of one name both match;
    // a set with a role twice would leave another image unwritten.
    const bool complete = std::all_of(perRole.begin(), perRole.end(), [](int n) { return n == 1; });
    if (complete && tooLarge.isEmpty())
        return scan;
    scan.files.clear();
    if (!tooLarge.isEmpty())
        scan.problem = tooLarge.join(QStringLiteral("; "));
    else if (!notFiles.isEmpty())
        scan.problem =
            QStringLiteral("Not a regular file: %1").arg(notFiles.join(QStringLiteral(", ")));
    return scan;
}

#include "firmware/firmware_scan.h"

#include <QDir>
#include <QFile>
#include <QHash>

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

bool isFirmwareName(const QString& name) {
    return roleOf(name, true) >= 0 || roleOf(name, false) >= 0;
}

// The file's size and digest, read whole now; false, with the system's
// words, when it cannot be read.
bool digestOf(const QString& path, FirmwareFile& file, QString& error) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        error = in.errorString();
        return false;
    }
    Sha256 digest;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    std::uint64_t size = 0;
    for (;;) {
        const qint64 got = in.read(chunk.data(), chunk.size());
        if (got < 0) {
            error = in.errorString();
            return false;
        }
        if (got == 0)
            break;
        digest.add(chunk.constData(), static_cast<std::size_t>(got));
        size += static_cast<std::uint64_t>(got);
    }
    file.size = size;
    file.sha256 = digest.finish();
    return true;
}

// A name as sha256sum escapes it, read left to right: a backslash and an n
// stand for a line break, two backslashes for one.
QByteArray unescaped(const QByteArray& name) {
    QByteArray out;
    for (int i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size()) {
            ++i;
            out += name[i] == 'n' ? '\n' : name[i];
        } else {
            out += name[i];
        }
    }
    return out;
}

// sha256sum's own lines: "<64 hex>  <name>" or "<64 hex> *<name>" (binary),
// a leading backslash when the name holds a backslash or a line break.
// Names by their upper case, as image names are matched. False, with the
// number of the line, when a line is none of these.
bool readManifest(const QString& path, QHash<QString, QList<QByteArray>>& digests, int& badLine) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        badLine = 0;
        return false;
    }
    const QList<QByteArray> lines = in.readAll().split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const bool escaped = line.startsWith('\\');
        if (escaped)
            line.remove(0, 1);
        const QByteArray hex = line.left(64);
        const bool hexOnly = std::all_of(hex.begin(), hex.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        });
        if (line.size() < 67 || !hexOnly || line[64] != ' ' ||
            (line[65] != ' ' && line[65] != '*')) {
            badLine = i + 1;
            return false;
        }
        QByteArray name = line.mid(66);
        if (escaped)
            name = unescaped(name);
        digests[QString::fromUtf8(name).toUpper()].append(QByteArray::fromHex(hex));
    }
    return true;
}

// Every image listed once in the manifest, with its digest. None when it is.
ScanProblem checkManifest(const QString& manifest, const FirmwareFileList& files) {
    ScanProblem problem;
    QHash<QString, QList<QByteArray>> digests;
    int badLine = 0;
    if (!readManifest(manifest, digests, badLine)) {
        problem.kind = ScanProblem::ManifestUnreadable;
        problem.line = badLine;
        return problem;
    }
    for (const FirmwareFile& file : files) {
        problem.name = QFileInfo(file.path).fileName();
        const QList<QByteArray> listed = digests.value(problem.name.toUpper());
        const QByteArray actual(reinterpret_cast<const char*>(file.sha256.data()),
                                static_cast<int>(file.sha256.size()));
        if (listed.isEmpty())
            problem.kind = ScanProblem::ManifestNotListed;
        else if (listed.size() > 1)
            problem.kind = ScanProblem::ManifestListedTwice;
        else if (listed.first() != actual)
            problem.kind = ScanProblem::ManifestMismatch;
        if (problem.kind != ScanProblem::None)
            return problem;
    }
    return {};
}

QString nativeFolder(const QString& folder) {
    return QDir::toNativeSeparators(folder);
}

} // namespace

QFileInfoList firmwareFolderListing(const QString& folder) {
    if (folder.isEmpty())
        return {};
    const QDir dir(folder);
    if (!dir.exists())
        return {};
    // Hidden files are left out unless QDir::Hidden is asked for; System
    // brings links that lead to nothing, so that they can be named. Of the
    // folders, only links to one: a folder of its own is no firmware file.
    QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const QFileInfo& e) { return e.isDir() && !e.isSymLink(); }),
                  entries.end());
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

QString problemText(const ScanProblem& problem, const QStringList& templates) {
    // The sentence of the given place in templates, or the English one.
    const auto text = [&templates](ProblemSentence which, const char* english) {
        const QString given = templates.value(static_cast<int>(which));
        return given.isEmpty() ? QString::fromUtf8(english) : given;
    };
    switch (problem.kind) {
    case ScanProblem::None:
        return {};
    case ScanProblem::NotAFolder:
        return text(ProblemSentence::NotAFolder, "%1 is not a folder.")
            .arg(nativeFolder(problem.folder));
    case ScanProblem::NoSet:
        if (problem.names.isEmpty() || problem.names.size() == 3)
            return text(ProblemSentence::NoSet,
                        "%1 holds no firmware set: it needs VELA_APP.DAT, VELA_MAIN.DAT and "
                        "VELA_OS.ROM (or PROGPACK.DAT, TABLES.DAT and SYSIMAGE.ROM).")
                .arg(nativeFolder(problem.folder));
        return text(ProblemSentence::Missing, "%1 holds no firmware set: %2 is missing.")
            .arg(nativeFolder(problem.folder), problem.names.join(QStringLiteral(", ")));
    case ScanProblem::TwoSpellings:
        return text(ProblemSentence::TwoSpellings,
                    "%1 and %2 are two names of one image: keep one of them.")
            .arg(problem.name, problem.other);
    case ScanProblem::NotRegularFile:
        return text(ProblemSentence::NotRegularFile, "Not a regular file: %1")
            .arg(problem.names.join(QStringLiteral(", ")));
    case ScanProblem::LinkToNothing:
        return text(ProblemSentence::LinkToNothing,
                    "%1 is a link that leads to no file (the file is gone, or the link leads "
                    "back to itself).")
            .arg(problem.name);
    case ScanProblem::Unreadable:
        return text(ProblemSentence::Unreadable, "%1 cannot be read: %2")
            .arg(problem.name, problem.error);
    case ScanProblem::TooLarge:
        return text(ProblemSentence::TooLarge,
                    "%1 is %2 bytes too large (%3 bytes; at most %4 fit before the next image)")
            .arg(problem.name, QString::number(problem.size - problem.limit),
                 QString::number(problem.size), QString::number(problem.limit));
    case ScanProblem::ManifestUnreadable:
        return problem.line > 0 ? text(ProblemSentence::ManifestLine,
                                       "SHA256SUMS cannot be read (line %1): nothing was written.")
                                      .arg(problem.line)
                                : text(ProblemSentence::Manifest,
                                       "SHA256SUMS cannot be read: nothing was written.");
    case ScanProblem::ManifestNotListed:
        return text(ProblemSentence::NotListed,
                    "%1 is not listed in SHA256SUMS: nothing was written.")
            .arg(problem.name);
    case ScanProblem::ManifestListedTwice:
        return text(ProblemSentence::ListedTwice,
                    "%1 is listed twice in SHA256SUMS: nothing was written.")
            .arg(problem.name);
    case ScanProblem::ManifestMismatch:
        return text(ProblemSentence::Mismatch, "%1 does not match SHA256SUMS: nothing was written.")
            .arg(problem.name);
    }
    return {};
}

FirmwareScan scanFirmwareFiles(const QString& folder) {
    FirmwareScan scan;
    scan.problem.folder = folder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        scan.problem.kind = ScanProblem::NotAFolder;
        return scan;
    }
    // Only a regular file (after following links) is a firmware image: a link
    // to a device would be "installed" from endless zeros or nothing at all,
    // and a FIFO would hold the transfer forever.
    QFileInfoList listing;
    QString manifest;
    for (const QFileInfo& entry : firmwareFolderListing(folder)) {
        if (entry.fileName().compare(QLatin1String(kManifestName), Qt::CaseInsensitive) == 0)
            manifest = entry.absoluteFilePath();
        if (!isFirmwareName(entry.fileName()))
            continue;
        if (entry.isSymLink() && !entry.exists()) {
            scan.problem.kind = ScanProblem::LinkToNothing;
            scan.problem.name = entry.fileName();
            return scan;
        }
        if (!entry.isFile()) {
            scan.problem.names << entry.fileName();
            continue;
        }
        listing << entry;
    }
    if (!scan.problem.names.isEmpty()) {
        scan.problem.kind = ScanProblem::NotRegularFile;
        return scan;
    }
    scan.newNamingScheme = std::any_of(listing.begin(), listing.end(), [](const QFileInfo& e) {
        return isNewSchemeFileName(e.fileName());
    });

    std::array<QString, kRoles.size()> perRole;
    FirmwareFileList files;
    for (const QFileInfo& entry : listing) {
        const int role = roleOf(entry.fileName(), scan.newNamingScheme);
        if (role < 0)
            continue;
        QString& first = perRole[static_cast<size_t>(role)];
        // On a case-sensitive file system two spellings of one name both
        // match; a set with a role twice would leave another image unwritten.
        if (!first.isEmpty()) {
            scan.problem.kind = ScanProblem::TwoSpellings;
            scan.problem.name = first;
            scan.problem.other = entry.fileName();
            return scan;
        }
        first = entry.fileName();
        const Role& wanted = kRoles[static_cast<size_t>(role)];
        const auto tooLarge = [&](std::uint64_t size) {
            if (wanted.maxBytes <= 0 || size <= static_cast<std::uint64_t>(wanted.maxBytes))
                return false;
            scan.problem.kind = ScanProblem::TooLarge;
            scan.problem.name = entry.fileName();
            scan.problem.size = static_cast<qint64>(size);
            scan.problem.limit = wanted.maxBytes;
            return true;
        };
        // The listed size first, so that an image far too large is not read
        // whole only to be refused; then the size of the bytes read.
        if (tooLarge(static_cast<std::uint64_t>(entry.size())))
            return scan;
        FirmwareFile file{QDir::toNativeSeparators(entry.absoluteFilePath()), wanted.diskOffset};
        if (!digestOf(entry.absoluteFilePath(), file, scan.problem.error)) {
            scan.problem.kind = ScanProblem::Unreadable;
            scan.problem.name = entry.fileName();
            return scan;
        }
        if (tooLarge(file.size))
            return scan;
        files.append(file);
    }
    for (size_t i = 0; i < kRoles.size(); ++i) {
        if (perRole[i].isEmpty())
            scan.problem.names << QLatin1String(scan.newNamingScheme ? kRoles[i].newName
                                                                     : kRoles[i].legacyName);
    }
    if (!scan.problem.names.isEmpty()) {
        scan.problem.kind = ScanProblem::NoSet;
        return scan;
    }
    if (!manifest.isEmpty()) {
        scan.problem = checkManifest(manifest, files);
        if (scan.problem.kind != ScanProblem::None) {
            scan.problem.folder = folder;
            return scan;
        }
        scan.manifestChecked = true;
    }
    scan.files = files;
    return scan;
}

std::vector<RunFile> runFilesOf(const FirmwareFileList& files) {
    std::vector<RunFile> out;
    for (const FirmwareFile& file : files)
        out.push_back({file.path.toStdU16String(), QFileInfo(file.path).fileName().toStdU16String(),
                       file.diskOffset, file.size, file.sha256, true});
    return out;
}

#include "firmware/firmware_scan.h"

#include "firmware/firmware_folder.h"

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

// The role of a file of a set, by where it goes.
const Role& roleFor(const FirmwareFile& file) {
    for (const Role& role : kRoles) {
        if (role.diskOffset == file.diskOffset)
            return role;
    }
    return kRoles.front();
}

// An image longer than the room before the next image's offset would
// overwrite the start of that image: the problem, or false when it fits.
bool tooLarge(const Role& wanted, const QString& name, std::uint64_t size, ScanProblem& problem) {
    if (wanted.maxBytes <= 0 || size <= static_cast<std::uint64_t>(wanted.maxBytes))
        return false;
    problem.kind = ScanProblem::TooLarge;
    problem.name = name;
    problem.size = static_cast<qint64>(size);
    problem.limit = wanted.maxBytes;
    return true;
}

// The file's size and digest, read whole now; Failed, with the system's
// words, when it cannot be read.
InputOpen digestOf(const QString& path, FirmwareFile& file, QString& error) {
    InputFile input;
    QFile& in = input.file;
    const InputOpen opened = openInput(path, input, error);
    if (opened != InputOpen::Ok)
        return opened;
    Sha256 digest;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    std::uint64_t size = 0;
    for (;;) {
        const qint64 got = in.read(chunk.data(), chunk.size());
        if (got < 0) {
            error = in.errorString();
            return InputOpen::Failed;
        }
        if (got == 0)
            break;
        digest.add(chunk.constData(), static_cast<std::size_t>(got));
        size += static_cast<std::uint64_t>(got);
    }
    file.size = size;
    file.sha256 = digest.finish();
    return InputOpen::Ok;
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
// Names by their upper case, as image names are matched. Read from a regular
// file only, and no further than its bound: what lies past it is no list of
// three images, whatever its listed size said.
ScanProblem readManifest(const QString& path, const QString& name,
                         QHash<QString, QList<QByteArray>>& digests) {
    ScanProblem problem;
    problem.name = name;
    InputFile input;
    QFile& in = input.file;
    switch (openInput(path, input, problem.error)) {
    case InputOpen::NotRegular:
        problem.kind = ScanProblem::NotRegularFile;
        problem.names << name;
        return problem;
    case InputOpen::Failed:
        problem.kind = ScanProblem::Unreadable;
        return problem;
    case InputOpen::Ok:
        break;
    }
    const QByteArray text = in.read(kManifestMaxBytes + 1);
    if (in.error() != QFileDevice::NoError) {
        problem.kind = ScanProblem::Unreadable;
        problem.error = in.errorString();
        return problem;
    }
    if (text.size() > kManifestMaxBytes) {
        problem.kind = ScanProblem::ManifestTooLarge;
        problem.limit = kManifestMaxBytes;
        return problem;
    }
    const QList<QByteArray> lines = text.split('\n');
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
        // A NUL would cut the name short wherever it is taken as text.
        if (line.size() < 67 || !hexOnly || line[64] != ' ' ||
            (line[65] != ' ' && line[65] != '*') || line.contains('\0')) {
            problem.kind = ScanProblem::ManifestUnreadable;
            problem.line = i + 1;
            return problem;
        }
        QByteArray listed = line.mid(66);
        if (escaped)
            listed = unescaped(listed);
        digests[QString::fromUtf8(listed).toUpper()].append(QByteArray::fromHex(hex));
    }
    return {};
}

// Every image listed once in the manifest, with its digest. None when it is.
ScanProblem checkManifest(const FolderEntry& manifest, const QString& folder,
                          const FirmwareFileList& files) {
    if (manifest.size > static_cast<std::uint64_t>(kManifestMaxBytes)) {
        ScanProblem problem;
        problem.kind = ScanProblem::ManifestTooLarge;
        problem.name = manifest.name;
        problem.limit = kManifestMaxBytes;
        return problem;
    }
    QHash<QString, QList<QByteArray>> digests;
    ScanProblem problem = readManifest(pathIn(folder, manifest.name), manifest.name, digests);
    if (problem.kind != ScanProblem::None)
        return problem;
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

bool isNewSchemeFileName(const QString& name) {
    return roleOf(name, true) >= 0;
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
    case ScanProblem::NoSuchFolder:
        return text(ProblemSentence::DoesNotExist, "%1 does not exist.")
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
        return text(ProblemSentence::TwoSpellings, "%1 and %2 are two names of one image.")
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
        return problem.line > 0
                   ? text(ProblemSentence::ManifestLine, "SHA256SUMS cannot be read (line %1).")
                         .arg(problem.line)
                   : text(ProblemSentence::Manifest, "SHA256SUMS cannot be read.");
    case ScanProblem::ManifestNotListed:
        return text(ProblemSentence::NotListed, "%1 is not listed in SHA256SUMS.")
            .arg(problem.name);
    case ScanProblem::ManifestListedTwice:
        return text(ProblemSentence::ListedTwice, "%1 is listed twice in SHA256SUMS.")
            .arg(problem.name);
    case ScanProblem::ManifestMismatch:
        return text(ProblemSentence::Mismatch, "%1 does not match SHA256SUMS.").arg(problem.name);
    case ScanProblem::ManifestTwoSpellings:
        return text(ProblemSentence::ManifestTwoSpellings,
                    "%1 and %2 are two spellings of SHA256SUMS.")
            .arg(problem.name, problem.other);
    case ScanProblem::ManifestTooLarge:
        return text(ProblemSentence::ManifestTooLarge,
                    "%1 is larger than %2 bytes, too large for a list of images.")
            .arg(problem.name, QString::number(problem.limit));
    }
    return {};
}

ScanAdvice scanAdvice(const ScanProblem& problem) {
    // Of two spellings, the one to delete is the one not spelt as the set's
    // (or the manifest's) own name; of two such, the second.
    const auto odd = [&problem](bool firstIsOwn) {
        return ScanAdvice{Advice::DeleteOne, firstIsOwn ? problem.other : problem.name};
    };
    switch (problem.kind) {
    case ScanProblem::None:
        return {};
    case ScanProblem::NotAFolder:
    case ScanProblem::NoSuchFolder:
    case ScanProblem::NoSet:
        return {Advice::ChooseFolder, {}};
    case ScanProblem::TwoSpellings:
        return odd(problem.name == problem.name.toUpper() ||
                   problem.other != problem.other.toUpper());
    case ScanProblem::ManifestTwoSpellings:
        return odd(problem.name == QLatin1String(kManifestName) ||
                   problem.other != QLatin1String(kManifestName));
    case ScanProblem::NotRegularFile:
        return {Advice::ReplaceFile, problem.names.join(QStringLiteral(", "))};
    case ScanProblem::LinkToNothing:
        return {Advice::ReplaceFile, problem.name};
    case ScanProblem::Unreadable:
        return {Advice::CheckFiles, {}};
    case ScanProblem::TooLarge:
    case ScanProblem::ManifestUnreadable:
    case ScanProblem::ManifestNotListed:
    case ScanProblem::ManifestListedTwice:
    case ScanProblem::ManifestMismatch:
    case ScanProblem::ManifestTooLarge:
        return {Advice::DownloadAgain, {}};
    }
    return {};
}

FirmwareScan scanFirmwareNames(const QString& folder) {
    FirmwareScan scan;
    scan.problem.folder = folder;
    std::vector<FolderEntry> entries;
    if (!listFolder(folder, entries)) {
        scan.problem.kind =
            pathExists(folder) ? ScanProblem::NotAFolder : ScanProblem::NoSuchFolder;
        return scan;
    }
    scan.folder = absoluteFolder(folder);
    // Only a regular file (after following links) is a firmware image or a
    // manifest: a link to a device would be "installed" from endless zeros or
    // nothing at all, and a FIFO would hold the program forever. A manifest
    // that is not one is no reason to go on unchecked.
    std::vector<FolderEntry> listing;
    const FolderEntry* manifest = nullptr;
    for (const FolderEntry& entry : entries) {
        const bool isManifest =
            entry.name.compare(QLatin1String(kManifestName), Qt::CaseInsensitive) == 0;
        if (isManifest) {
            // Two spellings on a case-sensitive file system: which was meant?
            if (manifest) {
                scan.problem.kind = ScanProblem::ManifestTwoSpellings;
                scan.problem.name = manifest->name;
                scan.problem.other = entry.name;
                return scan;
            }
            manifest = &entry;
        } else if (!isFirmwareName(entry.name) ||
                   (entry.kind == FolderEntry::Folder && !entry.link)) {
            continue; // a folder of its own is no firmware file
        }
        if (entry.kind == FolderEntry::LinkToNothing) {
            scan.problem.kind = ScanProblem::LinkToNothing;
            scan.problem.name = entry.name;
            return scan;
        }
        if (entry.kind != FolderEntry::RegularFile)
            scan.problem.names << entry.name;
        else if (!isManifest)
            listing.push_back(entry);
    }
    if (!scan.problem.names.isEmpty()) {
        scan.problem.kind = ScanProblem::NotRegularFile;
        return scan;
    }
    scan.newNamingScheme = std::any_of(listing.begin(), listing.end(), [](const FolderEntry& e) {
        return isNewSchemeFileName(e.name);
    });

    std::array<QString, kRoles.size()> perRole;
    FirmwareFileList files;
    for (const FolderEntry& entry : listing) {
        const int role = roleOf(entry.name, scan.newNamingScheme);
        if (role < 0)
            continue;
        QString& first = perRole[static_cast<size_t>(role)];
        // On a case-sensitive file system two spellings of one name both
        // match; a set with a role twice would leave another image unwritten.
        if (!first.isEmpty()) {
            scan.problem.kind = ScanProblem::TwoSpellings;
            scan.problem.name = first;
            scan.problem.other = entry.name;
            return scan;
        }
        first = entry.name;
        // By the listed size: an image far too large is refused before it is
        // read whole.
        const Role& wanted = kRoles[static_cast<size_t>(role)];
        if (tooLarge(wanted, entry.name, entry.size, scan.problem))
            return scan;
        FirmwareFile file{pathIn(scan.folder, entry.name), wanted.diskOffset};
        file.size = entry.size;
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
    if (manifest) {
        // By its listed size at once: a list of three images is short.
        if (manifest->size > static_cast<std::uint64_t>(kManifestMaxBytes)) {
            scan.problem.kind = ScanProblem::ManifestTooLarge;
            scan.problem.name = manifest->name;
            scan.problem.limit = kManifestMaxBytes;
            return scan;
        }
        scan.manifest = manifest->name;
    }
    scan.files = files;
    return scan;
}

FirmwareScan digestFirmwareSet(FirmwareScan scan) {
    if (scan.files.isEmpty() || scan.digested)
        return scan;
    FirmwareFileList files = scan.files;
    scan.files.clear();
    for (FirmwareFile& file : files) {
        const QString name = QFileInfo(file.path).fileName();
        switch (digestOf(file.path, file, scan.problem.error)) {
        case InputOpen::Ok:
            break;
        case InputOpen::NotRegular: // it was, when the folder was listed
            scan.problem.kind = ScanProblem::NotRegularFile;
            scan.problem.names << name;
            return scan;
        case InputOpen::Failed:
            scan.problem.kind = ScanProblem::Unreadable;
            scan.problem.name = name;
            return scan;
        }
        // The size of the bytes read, which the listing may not have known.
        if (tooLarge(roleFor(file), name, file.size, scan.problem))
            return scan;
    }
    if (!scan.manifest.isEmpty()) {
        FolderEntry entry;
        entry.name = scan.manifest;
        const QString folder = scan.problem.folder;
        scan.problem = checkManifest(entry, scan.folder, files);
        if (scan.problem.kind != ScanProblem::None) {
            scan.problem.folder = folder;
            return scan;
        }
        scan.manifestChecked = true;
    }
    scan.files = files;
    scan.digested = true;
    return scan;
}

FirmwareScan scanFirmwareFiles(const QString& folder) {
    return digestFirmwareSet(scanFirmwareNames(folder));
}

std::vector<RunFile> runFilesOf(const FirmwareFileList& files) {
    std::vector<RunFile> out;
    for (const FirmwareFile& file : files)
        out.push_back({file.path.toStdU16String(), QFileInfo(file.path).fileName().toStdU16String(),
                       file.diskOffset, file.size, file.sha256, true});
    return out;
}

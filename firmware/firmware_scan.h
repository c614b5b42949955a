// Finding the three firmware images in a folder and fixing them as they are
// checked: each image's size and SHA-256, and, when the folder holds a
// SHA256SUMS file, each image matched against it. Apart from the dialog and
// the tool, which both take their set from here.
#pragma once

#include "firmware/firmware_file.h"
#include "session/update_run.h"

#include <QFileInfoList>
#include <QString>
#include <QStringList>

// The folder's entries that may be firmware files, not hidden, sorted by name
// without regard to case (both names folded to lower case, compared unit by
// unit). Empty when the folder is empty text or not an existing folder.
[[nodiscard]] QFileInfoList firmwareFolderListing(const QString& folder);

[[nodiscard]] bool isNewSchemeFileName(const QString& name);
[[nodiscard]] bool isLegacySchemeFileName(const QString& name);

// Why a folder gives no usable set; the fields say which file and what.
struct ScanProblem {
    enum Kind {
        None,
        NotAFolder,          // folder
        NoSet,               // folder; missing: the images it lacks
        TwoSpellings,        // name, other: two names of one image
        NotRegularFile,      // names: a device, a FIFO, a folder...
        LinkToNothing,       // name: a link to nothing, or a loop of links
        Unreadable,          // name, error
        TooLarge,            // name, size, limit
        ManifestUnreadable,  // line: SHA256SUMS cannot be read there
        ManifestNotListed,   // name
        ManifestListedTwice, // name
        ManifestMismatch,    // name
    };
    Kind kind = None;
    QString folder;
    QString name;
    QString other;
    QStringList names;
    QString error;
    qint64 size = 0;
    qint64 limit = 0;
    int line = 0;
};

// The problem as one English sentence, as the tool says it and as the dialog
// says it where its language has no text of its own.
[[nodiscard]] QString problemText(const ScanProblem& problem);

struct FirmwareScan {
    bool newNamingScheme = false;
    // In installation order; exactly one file per role, each with its size
    // and digest as read now. Empty when the folder gives no usable set.
    FirmwareFileList files;
    ScanProblem problem;          // why files is empty
    bool manifestChecked = false; // SHA256SUMS listed every image, and each matched
};

// The name of the manifest a folder may hold (found without regard to case).
inline const char kManifestName[] = "SHA256SUMS";

// Reads the folder's regular files (links followed) under one naming scheme:
// the new one as soon as one file carries a new name. A complete set has
// exactly one file for each of the three images, the images at 0 and at
// 0x100000 each fit before the next one, every image can be read whole, and,
// with a SHA256SUMS file, every image is listed there with its digest.
[[nodiscard]] FirmwareScan scanFirmwareFiles(const QString& folder);

// The set as the update engine takes it: each file fixed as it was checked.
[[nodiscard]] std::vector<RunFile> runFilesOf(const FirmwareFileList& files);

// Finding the three firmware images in a folder, apart from the dialog so the
// rules can be tested on their own.
#pragma once

#include "firmware/firmware_file.h"

#include <QFileInfoList>
#include <QString>

// The folder's plain files, not hidden, sorted by name without regard to case
// (both names folded to lower case, compared unit by unit). Empty when the
// folder is empty text or not an existing folder.
[[nodiscard]] QFileInfoList firmwareFolderListing(const QString& folder);

[[nodiscard]] bool isNewSchemeFileName(const QString& name);
[[nodiscard]] bool isLegacySchemeFileName(const QString& name);

struct FirmwareScan {
    bool newNamingScheme = false;
    // In installation order; exactly one file per role, or empty.
    FirmwareFileList files;
    // Why a set was refused that the user could mend: an image too large for
    // its place, or a firmware name that is not a regular file. Empty otherwise.
    QString problem;
};

// Reads the folder's regular files (links followed) under one naming scheme:
// the new one as soon as one file carries a new name. A complete set has
// exactly one file for each of the three images, and the images at 0 and at
// 0x100000 each fit before the next one; anything else yields no files.
[[nodiscard]] FirmwareScan scanFirmwareFiles(const QString& folder);

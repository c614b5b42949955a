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

struct FirmwareScan {
    bool newNamingScheme = false;
    // In installation order; exactly one file per role, or empty.
    FirmwareFileList files;
};

// Reads the folder under one naming scheme: the new one as soon as one file
// carries a new name. A complete set has exactly one file for each of the
// three images; anything else yields no files.
[[nodiscard]] FirmwareScan scanFirmwareFiles(const QString& folder);

// Finding the three firmware images in a folder and fixing them as they are
// checked: each image's size and SHA-256, and, when the folder holds a
// SHA256SUMS file, each image matched against it. Apart from the dialog and
// the tool, which both take their set from here.
#pragma once

#include "firmware/firmware_file.h"
#include "session/advice.h"
#include "session/update_run.h"

#include <QString>
#include <QStringList>

[[nodiscard]] bool isNewSchemeFileName(const QString& name);

// Why a folder gives no usable set; the fields say which file and what.
struct ScanProblem {
    enum Kind {
        None,
        NotAFolder,           // folder
        NoSuchFolder,         // folder
        NoSet,                // folder; missing: the images it lacks
        TwoSpellings,         // name, other: two names of one image
        NotRegularFile,       // names: a device, a FIFO, a folder...
        LinkToNothing,        // name: a link to nothing, or a loop of links
        Unreadable,           // name, error
        TooLarge,             // name, size, limit
        ManifestUnreadable,   // line: SHA256SUMS cannot be read there
        ManifestNotListed,    // name
        ManifestListedTwice,  // name
        ManifestMismatch,     // name
        ManifestTwoSpellings, // name, other: SHA256SUMS and sha256sums
        ManifestTooLarge,     // name, limit
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

// The sentences problemText says, in the order of its templates; each holds
// %1, %2... where the English one names something.
enum class ProblemSentence : int {
    NotAFolder,     // %1 the folder
    NoSet,          // %1 the folder
    Missing,        // %1 the folder, %2 the missing images
    TwoSpellings,   // %1, %2 the two names
    NotRegularFile, // %1 the names
    LinkToNothing,  // %1 the name
    Unreadable,     // %1 the name, %2 the system's text
    TooLarge,       // %1 the name, %2 bytes too many, %3 its size, %4 the room
    ManifestLine,   // %1 the line
    Manifest,
    NotListed,   // %1 the name
    ListedTwice, // %1 the name
    Mismatch,    // %1 the name
    // Appended, so that the translations' identifiers above stay as they are.
    ManifestTwoSpellings, // %1, %2 the two names
    ManifestTooLarge,     // %1 the name, %2 the bound in bytes
    DoesNotExist,         // %1 the folder
    Count
};

// The problem as one sentence: English (as the tool says it), or from
// templates, indexed by ProblemSentence, where one is given and not empty.
[[nodiscard]] QString problemText(const ScanProblem& problem, const QStringList& templates = {});

// What to do about the problem, and the name its advice names (the file to
// delete or to replace).
struct ScanAdvice {
    Advice advice = Advice::None;
    QString arg;
};
[[nodiscard]] ScanAdvice scanAdvice(const ScanProblem& problem);

struct FirmwareScan {
    QString folder; // absolute, with the platform's native separators
    bool newNamingScheme = false;
    // In installation order; exactly one file per role, each with its size
    // and digest as read now. Empty when the folder gives no usable set.
    FirmwareFileList files;
    ScanProblem problem;          // why files is empty
    QString manifest;             // the name of the folder's SHA256SUMS; empty: none
    bool digested = false;        // every image read whole for its size and digest
    bool manifestChecked = false; // SHA256SUMS listed every image, and each matched
};

// The name of the manifest a folder may hold (found without regard to case),
// and the most it may hold: a list of three images has no need of more.
inline const char kManifestName[] = "SHA256SUMS";
constexpr qint64 kManifestMaxBytes = 64 * 1024;

// Reads the folder's regular files (links followed) under one naming scheme,
// whatever the bytes of their names and of the folder's:
// the new one as soon as one file carries a new name. A complete set has
// exactly one file for each of the three images, the images at 0 and at
// 0x100000 each fit before the next one, every image can be read whole, and,
// with a SHA256SUMS file, every image is listed there with its digest.
[[nodiscard]] FirmwareScan scanFirmwareFiles(const QString& folder);

// The same in two steps, so that a window can show itself before the images
// are read: the names, kinds and listed sizes first (nothing is read; a set
// that fails here fails at once)...
[[nodiscard]] FirmwareScan scanFirmwareNames(const QString& folder);
// ...then each image read whole for its size and digest, and SHA256SUMS
// checked. Any thread; the scan it takes is its own copy.
[[nodiscard]] FirmwareScan digestFirmwareSet(FirmwareScan scan);

// The set as the update engine takes it: each file fixed as it was checked.
[[nodiscard]] std::vector<RunFile> runFilesOf(const FirmwareFileList& files);

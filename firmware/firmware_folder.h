// A firmware folder as the system holds it: its entries and their kinds, and
// its files opened to be read. Names are the system's own: on Linux bytes
// with no promised encoding, kept in a QString as base/utf16_text.h keeps
// them (bytes that are not UTF-8 as lone surrogates), so that a folder or a
// file of any name can be checked, shown and written.
#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <vector>

struct FolderEntry {
    enum Kind {
        RegularFile,
        Folder,
        Other,         // a FIFO, a device, a socket
        LinkToNothing, // a link to nothing, or a loop of links
    };
    QString name;
    Kind kind = Other; // links followed
    bool link = false;
    std::uint64_t size = 0; // of a regular file, as listed
};

// The folder's entries that are not hidden, sorted by name without regard
// to case (both names folded to lower case, compared unit by unit). False
// when the folder is empty text or not an existing folder.
[[nodiscard]] bool listFolder(const QString& folder, std::vector<FolderEntry>& entries);

// Whether anything is at path (links followed or not).
[[nodiscard]] bool pathExists(const QString& path);

// The folder as an absolute path with the platform's native separators.
[[nodiscard]] QString absoluteFolder(const QString& folder);
// The path of the entry called name in folder.
[[nodiscard]] QString pathIn(const QString& folder, const QString& name);

// A file opened to be read: `file` reads it. On Linux the descriptor is this
// program's own, closed here rather than inside Qt, so that a thread checker
// sees its end.
struct InputFile {
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    QFile file;
    int descriptor = -1; // Linux: what file reads; -1: file opened itself
};

// Opens path to be read into input, only if it is a regular file. The open
// never waits: a FIFO put in a file's place cannot hold the program, and a
// device is never read. Failed: error says why, in the system's words.
enum class InputOpen { Ok, NotRegular, Failed };
[[nodiscard]] InputOpen openInput(const QString& path, InputFile& input, QString& error);

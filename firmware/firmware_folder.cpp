#include "firmware/firmware_folder.h"

#include "base/regular_file.h"
#include "base/utf16_text.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#ifndef _WIN32
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void sortByName(std::vector<FolderEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const FolderEntry& a, const FolderEntry& b) {
                         const QString x = a.name.toLower();
                         const QString y = b.name.toLower();
                         return std::lexicographical_compare(x.utf16(), x.utf16() + x.size(),
                                                             y.utf16(), y.utf16() + y.size());
                     });
}

#ifndef _WIN32
std::string bytesOf(const QString& name) {
    return byteNameFromUtf16(name.toStdU16String());
}

QString nameOf(const std::string& bytes) {
    const std::u16string units = utf16FromByteName(bytes);
    return QString(reinterpret_cast<const QChar*>(units.data()), static_cast<int>(units.size()));
}
#endif

} // namespace

QString pathIn(const QString& folder, const QString& name) {
    return QDir::toNativeSeparators(QDir::cleanPath(folder + QLatin1Char('/') + name));
}

#ifdef _WIN32

// Names are UTF-16 here already, and no path opens a FIFO: Qt's own view.
bool listFolder(const QString& folder, std::vector<FolderEntry>& entries) {
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return false;
    // System brings links that lead to nothing, so that they can be named.
    for (const QFileInfo& found :
         dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort)) {
        FolderEntry entry;
        entry.name = found.fileName();
        entry.link = found.isSymLink();
        entry.kind = entry.link && !found.exists() ? FolderEntry::LinkToNothing
                     : found.isDir()               ? FolderEntry::Folder
                     : found.isFile()              ? FolderEntry::RegularFile
                                                   : FolderEntry::Other;
        entry.size = found.isFile() ? static_cast<std::uint64_t>(found.size()) : 0;
        entries.push_back(entry);
    }
    sortByName(entries);
    return true;
}

bool pathExists(const QString& path) {
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

QString absoluteFolder(const QString& folder) {
    return QDir::toNativeSeparators(QFileInfo(folder).absoluteFilePath());
}

InputFile::~InputFile() = default;

InputOpen openInput(const QString& path, InputFile& input, QString& error) {
    if (!QFileInfo(path).isFile())
        return InputOpen::NotRegular;
    input.file.setFileName(path);
    if (!input.file.open(QIODevice::ReadOnly)) {
        error = input.file.errorString();
        return InputOpen::Failed;
    }
    return InputOpen::Ok;
}

#else

bool listFolder(const QString& folder, std::vector<FolderEntry>& entries) {
    if (folder.isEmpty())
        return false;
    const int fd = ::open(bytesOf(folder).c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    while (const dirent* found = ::readdir(dir)) {
        const std::string name = found->d_name;
        // Hidden as Qt has it here: a leading dot ("." and ".." too).
        if (name.empty() || name[0] == '.')
            continue;
        FolderEntry entry;
        entry.name = nameOf(name);
        struct stat seen {};
        entry.link =
            ::fstatat(fd, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(seen.st_mode);
        if (::fstatat(fd, name.c_str(), &seen, 0) != 0) {
            if (!entry.link)
                continue; // gone since it was listed
            entry.kind = FolderEntry::LinkToNothing;
        } else if (S_ISREG(seen.st_mode)) {
            entry.kind = FolderEntry::RegularFile;
            entry.size = static_cast<std::uint64_t>(seen.st_size);
        } else {
            entry.kind = S_ISDIR(seen.st_mode) ? FolderEntry::Folder : FolderEntry::Other;
        }
        entries.push_back(entry);
    }
    ::closedir(dir);
    sortByName(entries);
    return true;
}

bool pathExists(const QString& path) {
    struct stat seen {};
    return ::lstat(bytesOf(path).c_str(), &seen) == 0;
}

QString absoluteFolder(const QString& folder) {
    if (folder.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(folder);
    // The working folder by its bytes: Qt's would lose those that are not UTF-8.
    char* here = ::getcwd(nullptr, 0);
    const QString base = here ? nameOf(here) : QString();
    std::free(here);
    return QDir::cleanPath(base + QLatin1Char('/') + folder);
}

InputFile::~InputFile() {
    file.close();
    if (descriptor >= 0)
        ::close(descriptor);
}

InputOpen openInput(const QString& path, InputFile& input, QString& error) {
    const RegularFileOpen opened = openRegularFile(bytesOf(path), O_RDONLY);
    if (opened.notRegular)
        return InputOpen::NotRegular;
    if (opened.fd < 0) {
        error = qt_error_string(opened.error);
        return InputOpen::Failed;
    }
    input.descriptor = opened.fd;
    if (!input.file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        error = input.file.errorString();
        return InputOpen::Failed;
    }
    return InputOpen::Ok;
}

#endif

#include "strings/res_reader.h"

#include "strings/res_qstring.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QString>

#include <algorithm>

// Silent unless QT_LOGGING_RULES turns it on.
Q_LOGGING_CATEGORY(lcStrings, "updater.strings", QtWarningMsg)

std::int64_t readResourceFile(const char16_t* name, std::vector<std::uint8_t>& out,
                              std::int64_t start, std::int64_t end) {
    out.clear();
    const QString path = QStringLiteral("resource:") + qStringFromUtf16(name);
    const QFileInfo info(path);
    if (!info.exists()) {
        qCInfo(lcStrings) << "no module file" << info.filePath();
        return 0;
    }
    // Opening a FIFO would wait for a writer, at start-up, forever.
    if (!info.isFile()) {
        qCWarning(lcStrings) << "not a regular file:" << info.filePath();
        return 0;
    }
    QFile file(path);
    // A failed open or seek shows up as a short read, which the caller rejects.
    (void)file.open(QIODevice::ReadOnly);
    const std::int64_t bound = std::min<std::int64_t>(file.size(), end);
    if (start < 0 || start >= bound)
        return 0;
    // The sizes come from the module's own header; a (sparse) file that claims
    // gigabytes must not become an allocation of that size. No real module
    // comes near this.
    if (bound - start > kMaxResourceRead) {
        qCWarning(lcStrings) << "refused a read of" << (bound - start) << "bytes from"
                             << info.filePath();
        return 0;
    }
    (void)file.seek(start);
    out.resize(static_cast<std::size_t>(bound - start));
    const qint64 got =
        file.read(reinterpret_cast<char*>(out.data()), static_cast<qint64>(out.size()));
    const std::int64_t count = got < 0 ? 0 : got;
    out.resize(static_cast<std::size_t>(count));
    qCDebug(lcStrings) << "read" << count << "bytes from" << start << "of" << file.fileName();
    return count;
}

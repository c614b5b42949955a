#include "res_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>

std::int64_t readResourceFile(const char16_t* name, std::vector<std::uint8_t>& out,
                              std::int64_t start, std::int64_t end) {
    out.clear();
    const QString path = QStringLiteral("resource:") + QString::fromUtf16(name);
    if (!QFileInfo::exists(path))
        return 0;
    QFile file(path);
    // A failed open or seek shows up as a short read, which the caller rejects.
    (void)file.open(QIODevice::ReadOnly);
    const std::int64_t bound = std::min<std::int64_t>(file.size(), end);
    if (start < 0 || start >= bound)
        return 0;
    (void)file.seek(start);
    out.resize(static_cast<std::size_t>(bound - start));
    const qint64 got =
        file.read(reinterpret_cast<char*>(out.data()), static_cast<qint64>(out.size()));
    const std::int64_t count = got < 0 ? 0 : got;
    out.resize(static_cast<std::size_t>(count));
    return count;
}

#include "cli/update_report.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

QString UpdateReport::open(const QString& path) {
    std::lock_guard<std::mutex> hold(lock_);
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append))
        return file_.errorString();
    return {};
}

bool UpdateReport::append(const QString& line) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!file_.isOpen())
        return false;
    const QByteArray bytes = line.toUtf8() + '\n';
    // One write of the whole line, then through to the disk.
    if (file_.write(bytes) != bytes.size() || !file_.flush())
        return false;
#ifdef _WIN32
    return ::_commit(file_.handle()) == 0;
#else
    return ::fsync(file_.handle()) == 0;
#endif
}

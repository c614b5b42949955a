#include "ui/localised_text.h"

#include "strings/res_qstring.h"

QString englishText(std::uint32_t id) {
    switch (id) {
    case kTextCancel:
        return QStringLiteral("Cancel");
    case kTextStart:
        return QStringLiteral("Start");
    case kTextWaitingForConnection:
        return QStringLiteral("Waiting for connection...");
    case kTextNoUpdates:
        return QStringLiteral("No updates are available");
    case kTextDone:
        return QStringLiteral("Done");
    case kTextTitle:
        return QStringLiteral("Firmware update");
    case kTextAborted:
        return QStringLiteral("Update aborted");
    case kTextFirmwareFolder:
        return QStringLiteral("Firmware");
    case kTextBrowse:
        return QStringLiteral("Browse for update files");
    case kTextWaitingToStart:
        return QStringLiteral("Waiting to start") + QChar(0x2026);
    default:
        return QString();
    }
}

QString localisedText(std::uint32_t id) {
    const QString text = getResQString(id, 0);
    return text.isEmpty() ? englishText(id) : text;
}

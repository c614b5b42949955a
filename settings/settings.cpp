#include "settings/settings.h"

#include "strings/language_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>

const char kOrganizationName[] = "Orvane";
const char kOrganizationDomain[] = "orvane.com";
const char kApplicationName[] = "Quillon";

std::int32_t languageOfLocaleName(const QString& localeName) {
    if (localeName.size() < 2)
        return kEnglish;
    const QByteArray code = localeName.left(2).toLatin1();
    for (int id = kFirstLanguage; id <= kLastLanguage; ++id) {
        const char* match = languageTable[id - 1].matchCode;
        if (code[0] == match[0] && code[1] == match[1])
            return id;
    }
    return kEnglish;
}

std::int32_t systemLanguage() {
    return languageOfLocaleName(QLocale::system().name());
}

void registerSearchDirs() {
    const QString base = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    QDir::setSearchPaths(QStringLiteral("icons"), {base + QStringLiteral("icons")});
    QDir::setSearchPaths(QStringLiteral("resource"), {base + QStringLiteral("resource")});
}

QString defaultWorkFolder() {
    const QStringList documents =
        QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    const QString base = documents.isEmpty() ? QDir::homePath() : documents.first();
    return base + QStringLiteral("/Quillon");
}

StoredSettings readStoredSettings() {
    QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(kOrganizationDomain));
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));

    QSettings settings;
    StoredSettings stored;
    stored.language = settings.value(QStringLiteral("Language"), systemLanguage()).toInt();
    stored.workFolder =
        settings.value(QStringLiteral("WorkFolder"), defaultWorkFolder()).toString();
    stored.workFolder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return stored;
}

// Stored settings, the system language and the default work folder, read from
// a real settings store under a temporary home folder.
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class SettingsTest : public QObject {
    Q_OBJECT

public:
    QString home;

private:
    QString storePath() const {
#ifdef Q_OS_WIN
        return home + QStringLiteral("/.config/Orvane/Quillon.ini");
#else
        return home + QStringLiteral("/.config/Orvane/Quillon.conf");
#endif
    }

private slots:
    void languageOfLocaleName_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("language");
        const std::pair<const char*, int> cases[] = {
            {"en_US", 1}, {"zh_CN", 2}, {"zh_TW", 2}, {"fr_FR", 3}, {"fr_CA", 3},
            {"de_DE", 4}, {"de", 4},    {"es_MX", 5}, {"nl_BE", 6}, {"pt_BR", 7},
            {"pt_PT", 7}, {"ja_JP", 8}, {"it_IT", 1}, {"", 1},      {"d", 1},
            {"C", 1},     {"DE_de", 1}, {"De", 1},    {"eN", 1},
        };
        for (const auto& c : cases)
            QTest::newRow(*c.first ? c.first : "empty") << QString::fromLatin1(c.first) << c.second;
    }

    void languageOfLocaleName() {
        QFETCH(QString, locale);
        QFETCH(int, language);
        QCOMPARE(::languageOfLocaleName(locale), language);
    }

    void systemLanguageFollowsTheLocale() {
        // main() sets LC_ALL=de_DE.UTF-8.
        QCOMPARE(QLocale::system().name(), QStringLiteral("de_DE"));
        QCOMPARE(systemLanguage(), 4);
    }

    void defaultFolderIsInDocuments() {
        const QString documents =
            QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation).value(0);
#ifndef Q_OS_WIN
        // Windows asks the shell for Documents; HOME plays no part there.
        QVERIFY(documents.startsWith(home));
#endif
        QCOMPARE(defaultWorkFolder(), documents + QStringLiteral("/Quillon"));
    }

    void nothingStoredNothingWritten() {
        QFile::remove(storePath());
        const StoredSettings stored = readStoredSettings();
        QCOMPARE(stored.language, 4);
        QCOMPARE(stored.workFolder, defaultWorkFolder());
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Orvane"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Quillon"));
        QVERIFY(!QCoreApplication::organizationDomain().isEmpty());
        QVERIFY(!QFile::exists(storePath()));
    }

    void storedByTheSuite() {
        // Written as the desktop suite leaves it, not through our own code.
        QVERIFY(QDir().mkpath(QFileInfo(storePath()).path()));
        QFile file(storePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[General]\nLanguage=3\nWorkFolder=C:\\\\Users\\\\me\\\\Calc\n");
        file.close();
        const StoredSettings stored = readStoredSettings();
        QCOMPARE(stored.language, 3);
        QCOMPARE(stored.workFolder, QStringLiteral("C:/Users/me/Calc"));
    }

    void stored_data() {
        QTest::addColumn<QVariant>("language");
        QTest::addColumn<QVariant>("folder");
        QTest::addColumn<int>("expectedLanguage");
        QTest::addColumn<QString>("expectedFolder"); // "*" = the default folder

        const QVariant none;
        QTest::newRow("nothing") << none << none << 4 << "*";
        QTest::newRow("French") << QVariant(3) << none << 3 << "*";
        QTest::newRow("Japanese as text") << QVariant("8") << none << 8 << "*";
        QTest::newRow("0 kept for the caller to refuse") << QVariant(0) << none << 0 << "*";
        QTest::newRow("9 kept for the caller to refuse") << QVariant(9) << none << 9 << "*";
        QTest::newRow("not a number") << QVariant("French") << none << 0 << "*";
        QTest::newRow("backslashes") << none << QVariant("D:\\calc\\fw\\") << 4 << "D:/calc/fw/";
        QTest::newRow("forward slashes") << none << QVariant("/srv/calc") << 4 << "/srv/calc";
        QTest::newRow("empty folder") << none << QVariant("") << 4 << "";
    }

    void stored() {
        QFETCH(QVariant, language);
        QFETCH(QVariant, folder);
        QFETCH(int, expectedLanguage);
        QFETCH(QString, expectedFolder);
        QFile::remove(storePath());
        {
            QSettings settings(storePath(), QSettings::IniFormat);
            if (language.isValid())
                settings.setValue(QStringLiteral("Language"), language);
            if (folder.isValid())
                settings.setValue(QStringLiteral("WorkFolder"), folder);
        }
        const StoredSettings stored = readStoredSettings();
        QCOMPARE(stored.language, expectedLanguage);
        QCOMPARE(stored.workFolder, expectedFolder == "*" ? defaultWorkFolder() : expectedFolder);
    }

    void searchDirsBesideTheExecutable() {
        registerSearchDirs();
        const QString base = QCoreApplication::applicationDirPath();
        QCOMPARE(QDir::searchPaths(QStringLiteral("icons")),
                 QStringList{base + QStringLiteral("/icons")});
        QCOMPARE(QDir::searchPaths(QStringLiteral("resource")),
                 QStringList{base + QStringLiteral("/resource")});
    }
};

int main(int argc, char** argv) {
    // A German locale whoever runs the test, set before Qt first reads one:
    // German is none of the defaults (English, the C locale), so a default
    // cannot pass for the system's.
    qputenv("LC_ALL", "de_DE.UTF-8");
    qputenv("LANG", "de_DE.UTF-8");
    // The home folder must be in place before Qt first looks at it.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
    qunsetenv("XDG_DOCUMENTS_DIR");
#ifdef Q_OS_WIN
    // Windows keeps settings in the registry. The same keys are read from a
    // file of the test's own instead, so a developer's real settings stay
    // untouched.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       home.path() + QStringLiteral("/.config"));
#endif
    QCoreApplication app(argc, argv);
    SettingsTest test;
    test.home = home.path();
    return QTest::qExec(&test, argc, argv);
}

#include "settings_test.moc"

#include "ui/localised_text.h"

#include "device/calculators.h"
#include "firmware/firmware_scan.h"
#include "strings/language_table.h"
#include "strings/res_qstring.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

namespace {

constexpr int kProblemSentences = static_cast<int>(ProblemSentence::Count);
// The device layer's sentences before the two names of a calculator, which
// come last.
constexpr int kPhrasesBeforeNames = kDeviceTextSerialName;
static_assert(kDeviceTextPortName == kDeviceTextSerialName + 1 &&
              kDeviceTexts == kDeviceTextPortName + 1);
constexpr int kAdvice = static_cast<int>(Advice::Count);

// The translator of Qt's own texts now installed, if any.
QPointer<QTranslator> qtTexts;

} // namespace

bool installQtTranslations(int language) {
    delete qtTexts.data();
    if (!isValidLanguage(language) || language == kEnglish)
        return true;
    const QLocale locale(QString::fromLatin1(languageTable[language - 1].localeTag)
                             .replace(QLatin1Char('-'), QLatin1Char('_')));
    auto* translator = new QTranslator(QCoreApplication::instance());
    // Inside the program where it carries them (Windows), else the system's.
    for (const QString& folder : {QStringLiteral(":/qt_translations"),
                                  QLibraryInfo::location(QLibraryInfo::TranslationsPath)}) {
        if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
            qtTexts = translator;
            return true;
        }
    }
    delete translator;
    return false;
}

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
    case kTextColumnCalculator:
        return QStringLiteral("Calculator");
    case kTextColumnProgress:
        return QStringLiteral("Progress");
    case kTextColumnResult:
        return QStringLiteral("Result");
    case kTextRowOk:
        return QStringLiteral("OK");
    case kTextRowLeftAlone:
        return QStringLiteral("left alone");
    case kTextRowIncomplete:
        return QStringLiteral("incomplete: %1 of %2 files");
    case kTextRowFiles:
        return QStringLiteral("%1 of %2 files");
    case kTextRowFailed:
        return QStringLiteral("failed (%1)");
    case kTextLeftAlone:
        return QStringLiteral("Connected during this update and left alone: %1. Start a new "
                              "update for it.");
    case kTextTooManyCalculators:
        return QStringLiteral("More than 16 calculators are connected (%1): unplug all but 16. "
                              "Nothing is written until then.");
    case kTextNotFinished:
        return QStringLiteral("Warning: the calculator was disconnected before the update could "
                              "be finished on it. Run the update again.");
    case kTextNotFinishedOn:
        return QStringLiteral(
            "Warning: the update could not be finished on %1. Run the update again.");
    case kTextDisconnected:
        return QStringLiteral(
            "%1 was disconnected: connect it again in update mode, or close the window.");
    case kTextKeepConnected:
        return QStringLiteral("Keep the calculator connected until the update is done.");
    case kTextStoppedUnexpectedly:
        return QStringLiteral("The update stopped unexpectedly.");
    case kTextFolder:
        return QStringLiteral("Folder: %1");
    case kTextClose:
        return QStringLiteral("Close");
    case kTextAboutStatus:
        return QStringLiteral("Status of the update");
    case kTextAboutFile:
        return QStringLiteral("Firmware file being written");
    case kTextAboutFourthLine:
        return QStringLiteral("Cause of the last failure, or a warning");
    case kTextAboutCancel:
        return QStringLiteral(
            "Stops waiting for the calculator; during the countdown, starts at once");
    case kTextAboutBrowse:
        return QStringLiteral("Choose the folder that holds the firmware files");
    case kTextAboutBar:
        return QStringLiteral("Progress of the file being written");
    case kTextListName:
        return QStringLiteral("Calculators of this update");
    case kTextAboutList:
        return QStringLiteral(
            "Each calculator's serial, the progress of its file and its last result");
    default:
        return QString();
    }
}

QString localisedText(std::uint32_t id) {
    const QString text = getResQString(id, 0);
    return text.isEmpty() ? englishText(id) : text;
}

QStringList problemTemplates() {
    QStringList templates;
    for (int i = 0; i < kProblemSentences; ++i)
        templates << getResQString(kTextProblemFirst + i, 0);
    return templates;
}

void localiseDeviceTexts() {
    std::vector<std::u16string> templates;
    const auto add = [&templates](std::uint32_t id) {
        templates.push_back(getResQString(id, 0).toStdU16String());
    };
    for (int i = 0; i < kPhrasesBeforeNames; ++i)
        add(kTextPhraseFirst + i);
    add(kTextSerialName);
    add(kTextPortName);
    setDeviceTexts(std::move(templates));
}

QString localisedAdvice(Advice advice, const QString& arg) {
    if (advice == Advice::None)
        return {};
    QString text = getResQString(kTextAdviceFirst + static_cast<std::uint32_t>(advice), 0);
    if (text.isEmpty())
        text = qStringFromUtf16(englishAdvice(advice, u"%1"));
    return text.contains(QLatin1String("%1")) ? text.arg(arg) : text;
}

std::vector<std::uint32_t> ui::testing::dialogTextIds() {
    std::vector<std::uint32_t> ids;
    for (std::uint32_t id = 0; id <= kTextAboutList; ++id) {
        if (!englishText(id).isEmpty())
            ids.push_back(id);
    }
    for (int i = 0; i < kProblemSentences; ++i)
        ids.push_back(kTextProblemFirst + i);
    for (int i = 0; i < kPhrasesBeforeNames; ++i)
        ids.push_back(kTextPhraseFirst + i);
    ids.push_back(kTextSerialName);
    ids.push_back(kTextPortName);
    for (int i = 1; i < kAdvice; ++i)
        ids.push_back(kTextAdviceFirst + i);
    return ids;
}

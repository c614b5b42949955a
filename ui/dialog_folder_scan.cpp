// The dialog's side of the firmware folder: scanning it, and handing the
// current file to the worker.
#include "ui/calc_fw_update_dialog.h"

#include "base/utf16_text.h"
#include "firmware/firmware_scan.h"
#include "strings/res_qstring.h"
#include "ui/localised_text.h"
#include "worker/update_worker.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>

namespace {

// A name as the window may show it: bytes that are not text, and control
// characters, escaped ("\xff").
QString shown(const QString& text) {
    return qStringFromUtf16(escapedForDisplay(text.toStdU16String()));
}

} // namespace

void CCalcFWUpdateMSDialog::scanFirmwareFolder() {
    browseButton->hide();
    fileList.clear();
    // What the worker had of an earlier folder is no file of this one.
    worker->clearFile();
    const int generation = ++scanGeneration_;
    // Names, kinds and sizes only: a folder without a usable set says so at
    // once, and the window shows before any image is read.
    const FirmwareScan scan = scanFirmwareNames(workFolder);
    newNamingScheme = scan.newNamingScheme;
    if (scan.files.size() != 3) {
        showNoUpdates(scan.problem);
        return;
    }
    fileList = scan.files;
    currentIndex = 0;
    showFourthLine(FourthLine::Cause, QString());
    // An earlier scan that found nothing has stopped the run; this one
    // starts it again once the set is read.
    if (worker->stopRequested.load())
        prepareNewRun();
    cancelButton->show();
    showFileLine(fileList.at(currentIndex).path);
    // The images read whole and their digests taken on a thread of their
    // own; the worker gets the first file only then, so that no countdown
    // starts before the set is fixed.
    digests_.post([this, scan, generation] {
        digested_.post({generation, digestFirmwareSet(scan)});
        emit setDigested();
    });
}

void CCalcFWUpdateMSDialog::onSetDigested() {
    const std::optional<std::pair<int, FirmwareScan>> taken = digested_.take();
    // A later scan, or the end of the run, has taken this one's place.
    if (!taken || taken->first != scanGeneration_)
        return;
    const FirmwareScan& scan = taken->second;
    if (scan.files.size() != 3) {
        showNoUpdates(scan.problem);
        return;
    }
    fileList = scan.files;
    currentIndex = 0;
    setCurrentFile();
    if (worker->stopRequested.load())
        startNewRun();
    else
        beginRun();
}

void CCalcFWUpdateMSDialog::showNoUpdates(const ScanProblem& problem) {
    fileList.clear();
    const ScanAdvice advice = scanAdvice(problem);
    const QString next = localisedAdvice(advice.advice, shown(advice.arg));
    showFourthLine(FourthLine::Cause, shown(problemText(problem, problemTemplates())) +
                                          (next.isEmpty() ? QString() : QLatin1Char('\n') + next));
    finishUpdate(localisedText(kTextNoUpdates));
    // Which folder was looked at, whatever the sentence above says.
    showFileLine(localisedText(kTextFolder).arg(shown(QDir::toNativeSeparators(workFolder))));
    // Its icon is read when it is first needed: most starts never show it.
    if (folderIcon.isNull()) {
        for (const char* size : {"16x16", "32x32", "64x64"})
            folderIcon.addFile(QStringLiteral("icons:varFolder_%1.png").arg(QLatin1String(size)));
        browseButton->setIcon(folderIcon);
    }
    browseButton->show();
    // Browse is the one thing to do: Enter and Space press it.
    browseButton->setFocus();
}

void CCalcFWUpdateMSDialog::setCurrentFile() {
    const FirmwareFile& entry = fileList.at(currentIndex);
    cancelButton->show();
    showFileLine(entry.path);
    worker->setFile(entry.path, entry.diskOffset);
}

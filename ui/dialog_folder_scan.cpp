// The dialog's side of the firmware folder: scanning it, and handing the
// current file to the worker.
#include "ui/calc_fw_update_dialog.h"

#include "firmware/firmware_scan.h"
#include "ui/localised_text.h"
#include "worker/update_worker.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>

void CCalcFWUpdateMSDialog::scanFirmwareFolder() {
    browseButton->hide();
    fileList.clear();
    const FirmwareScan scan = scanFirmwareFiles(workFolder);
    newNamingScheme = scan.newNamingScheme;
    fileList = scan.files;
    showFourthLine(FourthLine::Cause, problemText(scan.problem, problemTemplates()));
    if (fileList.size() == 3) {
        currentIndex = 0;
        setCurrentFile();
        // An earlier scan that found nothing has stopped the run; this one
        // starts it again, so that the calculator is updated once plugged in.
        if (worker->stopRequested.load())
            prepareNewRun();
        else
            beginRun();
        return;
    }
    finishUpdate(localisedText(kTextNoUpdates));
    // Which folder was looked at, whatever the sentence above says.
    showFileLine(localisedText(kTextFolder).arg(QDir::toNativeSeparators(workFolder)));
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

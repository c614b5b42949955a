// The dialog's side of the firmware folder: scanning it, and handing the
// current file to the worker.
#include "ui/calc_fw_update_dialog.h"

#include "firmware/firmware_scan.h"
#include "ui/localised_text.h"
#include "worker/update_worker.h"

#include <QLabel>
#include <QPushButton>

void CCalcFWUpdateMSDialog::scanFirmwareFolder() {
    browseButton->hide();
    fileList.clear();
    const FirmwareScan scan = scanFirmwareFiles(workFolder);
    newNamingScheme = scan.newNamingScheme;
    fileList = scan.files;
    spareLabel2->setText(problemText(scan.problem));
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
    widenForTexts();
    finishUpdate(localisedText(kTextNoUpdates));
    browseButton->show();
}

void CCalcFWUpdateMSDialog::setCurrentFile() {
    const FirmwareFile& entry = fileList.at(currentIndex);
    cancelButton->show();
    fileLabel->setText(entry.path);
    widenForTexts();
    worker->setFile(entry.path, entry.diskOffset);
}

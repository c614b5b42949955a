// What the dialog tells screen readers.
#include "ui/calc_fw_update_dialog.h"

#include "ui/localised_text.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

void CCalcFWUpdateMSDialog::describeForAssistiveTools() {
    // The lines and the buttons keep no accessible name of their own: a
    // screen reader then reads their visible, localised text as the name, and
    // a label announces each new text (QAccessible::NameChanged) while its
    // name is empty. A fixed name such as "Status" would hide the text and
    // silence the announcements of the result, the retries and "Done".
    // The description says what each one is for.
    statusLabel->setAccessibleDescription(QStringLiteral("Status of the update"));
    fileLabel->setAccessibleDescription(QStringLiteral("Firmware file being written"));
    spareLabel2->setAccessibleDescription(
        QStringLiteral("Cause of the last failure, or a warning"));
    cancelButton->setAccessibleDescription(
        QStringLiteral("Stops waiting for the calculator; during the countdown, starts at once"));
    browseButton->setAccessibleDescription(
        QStringLiteral("Choose the folder that holds the firmware files"));
    // A bar has no text of its own; its value is read as a percentage.
    progressBar->setAccessibleName(localisedText(kTextTitle));
    progressBar->setAccessibleDescription(QStringLiteral("Progress of the file being written"));
    // The list's header names its columns; each cell is read by its text.
    calculatorList->setAccessibleName(QStringLiteral("Calculators of this update"));
    calculatorList->setAccessibleDescription(
        QStringLiteral("Each calculator's serial, the progress of its file and its last result"));
    // The keyboard needs nothing more: the one button shown has the focus,
    // where Enter and Space press it, and Escape goes through reject().
}

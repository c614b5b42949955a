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
    statusLabel->setAccessibleDescription(localisedText(kTextAboutStatus));
    fileLabel->setAccessibleDescription(localisedText(kTextAboutFile));
    spareLabel2->setAccessibleDescription(localisedText(kTextAboutFourthLine));
    cancelButton->setAccessibleDescription(localisedText(kTextAboutCancel));
    browseButton->setAccessibleDescription(localisedText(kTextAboutBrowse));
    // A bar has no text of its own; its value is read as a percentage.
    progressBar->setAccessibleName(localisedText(kTextTitle));
    progressBar->setAccessibleDescription(localisedText(kTextAboutBar));
    // The list's header names its columns; each cell is read by its text.
    calculatorList->setAccessibleName(localisedText(kTextListName));
    calculatorList->setAccessibleDescription(localisedText(kTextAboutList));
    // The keyboard needs nothing more: the one button shown has the focus,
    // where Enter and Space press it, and Escape goes through reject().
}

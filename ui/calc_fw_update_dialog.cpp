#include "ui/calc_fw_update_dialog.h"

#include "base/pacing.h"
#include "device/calculators.h"
#include "firmware/firmware_scan.h"
#include "resources/resources.h"
#include "session/advice.h"
#include "session/transfer_calls.h"
#include "session/update_run.h"
#include "settings/diagnostics.h"
#include "settings/settings.h"
#include "strings/language_table.h"
#include "strings/res_qstring.h"
#include "strings/res_string.h"
#include "ui/localised_text.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

CCalcFWUpdateMSDialog* theDialog = nullptr;

namespace {

constexpr int kStartNowMs = 1000;
constexpr int kExitDelayMs = 3000;
// Rows of the calculator list shown without scrolling; a class set of 16
// scrolls rather than pushing the buttons off a small screen.
constexpr int kCalculatorRowsShown = 6;
// A path longer than about this many characters is shortened in its middle.
constexpr int kPathChars = 64;
// The window grows for a longer text up to about this many characters, and
// the fourth line goes on over more lines beyond.
constexpr int kWidestTextChars = 100;

enum CalculatorColumn { kColumnCalculator, kColumnProgress, kColumnResult };

const char kProgressStyle[] =
    "QProgressBar { border: 2px solid DarkGrey; border-radius: 4px; text-align: center; "
    "padding: 2px; } QProgressBar::chunk { background-color: #0096d6; width: 5px; }";

// The fourth label's text after "Done" when the finish command did not reach
// every calculator of the run: it may not have completed the update. Empty
// when it reached every one.
QString unfinishedWarning(const DeviceResult& finish) {
    if (finish.code == kResultOk)
        return {};
    QStringList names;
    for (const CalculatorOutcome& outcome : finish.calculators) {
        if (outcome.code != kResultOk && outcome.code != kResultNoDisk)
            names << qStringFromUtf16(describeDisk(outcome.identity));
    }
    if (names.isEmpty())
        return localisedText(kTextNotFinished);
    return localisedText(kTextNotFinishedOn).arg(names.join(QStringLiteral(", ")));
}

// A calculator plugged in during the run is never written by it; its owner
// must know that it still waits for an update of its own.
QString leftAloneNotice(const RunStep& step) {
    QStringList names;
    for (const DiskIdentity& identity : step.leftAlone)
        names << qStringFromUtf16(describeDisk(identity));
    if (names.isEmpty())
        return {};
    return localisedText(kTextLeftAlone).arg(names.join(QStringLiteral(", ")));
}

// The width of a typical character of the font, its "n": a text of N
// characters is about N times as wide. (Some font engines give no true
// average width.)
int typicalCharWidth(const QFontMetrics& metrics) {
    return metrics.horizontalAdvance(QLatin1Char('n'));
}

std::int32_t dialogLanguage() {
    return theDialog ? theDialog->language : 1;
}

} // namespace

CCalcFWUpdateMSDialog::CCalcFWUpdateMSDialog(QString folder, int language, QWidget* parent)
    : QDialog(nullptr) {
    Q_UNUSED(parent); // the dialog is always a top-level window
    theDialog = this;
    setDialogLink(this);
    setCurrentLanguageSource(dialogLanguage);
    setDeviceLogSink(deviceLogLine);
    registerSearchDirs();
    initUpdaterResources();

    transferActive.store(false);
    newNamingScheme = false;
    startCountdownMs.store(0);

    // Twice each size shown, so that a screen at 200 % gets sharp pixels.
    for (const char* size : {"16", "32", "64", "128"})
        appIcon.addFile(QStringLiteral(":/CalculatorIconX%1.png").arg(QLatin1String(size)));

    if (!folder.isEmpty()) {
        workFolder = folder;
        setLanguage(language);
    } else {
        loadSettings();
        workFolder += QLatin1Char('/') + localisedText(kTextFirmwareFolder);
    }
    // From here on every text is in the user's language: Qt's own (the
    // folder dialog's) and the sentences of the device layer too.
    if (!installQtTranslations(this->language))
        qCInfo(lcUi) << "no translation of Qt's texts for language" << this->language;
    localiseDeviceTexts();

    workerThread = new QThread();
    workerThreadGuard_ = workerThread;
    worker = new CUpdateWorker();
    worker->moveToThread(workerThread);
    // The run the plain transfer calls drive, from the start: with no files
    // yet, its release still ends the update mode of whatever calculator is
    // there (a folder without an update).
    run_.begin({}, worker);

    connect(workerThread, &QThread::started, worker, &CUpdateWorker::process);
    connect(worker, &CUpdateWorker::finished, workerThread, &QThread::quit);
    connect(worker, &CUpdateWorker::finished, worker, &QObject::deleteLater);
    connect(workerThread, &QThread::finished, workerThread, &QObject::deleteLater);
    workerThread->start();

    statusLabel = new QLabel(this);
    spareLabel1 = new QLabel(this);
    fileLabel = new QLabel(this);
    spareLabel2 = new QLabel(this);
    auto* pictureLabel = new QLabel(this);
    pictureLabel->setPixmap(appIcon.pixmap(64, 64));

    auto* labelsColumn = new QVBoxLayout();
    auto* mainLayout = new QVBoxLayout();
    auto* buttonRow = new QHBoxLayout();
    auto* topRow = new QHBoxLayout();

    cancelButton = new QPushButton(localisedText(kTextCancel));
    closeButton = new QPushButton(localisedText(kTextClose));
    closeButton->hide();
    browseButton = new QPushButton();
    browseButton->setText(localisedText(kTextBrowse));
    browseButton->hide();

    progressBar = new QProgressBar(this);
    progressBar->setRange(0, 100);

    calculatorList = new QTreeWidget(this);
    calculatorList->setColumnCount(3);
    calculatorList->setHeaderLabels({localisedText(kTextColumnCalculator),
                                     localisedText(kTextColumnProgress),
                                     localisedText(kTextColumnResult)});
    calculatorList->setRootIsDecorated(false);
    calculatorList->setUniformRowHeights(true);
    calculatorList->setSelectionMode(QAbstractItemView::NoSelection);
    // Reachable with Tab for reading; a click must not take the focus from
    // the button that Enter presses.
    calculatorList->setFocusPolicy(Qt::TabFocus);
    calculatorList->header()->setSectionsMovable(false);
    calculatorList->header()->setStretchLastSection(true);
    calculatorList->hide();

    setWindowTitle(localisedText(kTextTitle));
    setWindowIcon(appIcon);
    // The title bar's "?" would offer help the window does not have.
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // A cause can be selected and copied into a support request.
    spareLabel2->setTextInteractionFlags(Qt::TextSelectableByMouse);

    labelsColumn->addWidget(statusLabel);
    labelsColumn->addWidget(spareLabel1);
    labelsColumn->addWidget(fileLabel);
    labelsColumn->addWidget(spareLabel2);
    topRow->addLayout(labelsColumn);
    topRow->addStretch();
    topRow->addWidget(pictureLabel);
    mainLayout->addLayout(topRow);
    mainLayout->addStretch();
    mainLayout->addSpacing(10);
    mainLayout->addWidget(progressBar);
    // Hidden, it takes no room: with one calculator the window is as before.
    mainLayout->addWidget(calculatorList);
    mainLayout->addSpacing(10);
    mainLayout->addLayout(buttonRow);
    buttonRow->addStretch();
    buttonRow->addWidget(browseButton);
    buttonRow->addWidget(cancelButton);
    buttonRow->addWidget(closeButton);

    progressBar->setVisible(true);
    progressBar->setStyleSheet(QString::fromLatin1(kProgressStyle));

    setLayout(mainLayout);
    setMinimumWidth(525);
    describeForAssistiveTools();
    showProgressOutside();

    connect(cancelButton, &QPushButton::clicked, this, &CCalcFWUpdateMSDialog::onCancel);
    connect(this, &CCalcFWUpdateMSDialog::updateProgress, this,
            &CCalcFWUpdateMSDialog::onUpdateProgress);
    connect(this, &CCalcFWUpdateMSDialog::updateMessage, this,
            &CCalcFWUpdateMSDialog::onUpdateMessage);
    connect(worker, &CUpdateWorker::foundDevice, this, &CCalcFWUpdateMSDialog::onFoundDevice);
    connect(worker, &CUpdateWorker::waitingStart, this, &CCalcFWUpdateMSDialog::onWaitingStart);
    connect(worker, &CUpdateWorker::waitingTicks, this, &CCalcFWUpdateMSDialog::onWaitingTicks);
    connect(worker, &CUpdateWorker::downloadActive, this, &CCalcFWUpdateMSDialog::onDownloadActive);
    connect(worker, &CUpdateWorker::downloadInactive, this,
            &CCalcFWUpdateMSDialog::onDownloadInactive);
    connect(worker, &CUpdateWorker::updaterRan, this, &CCalcFWUpdateMSDialog::onUpdaterRan);
    connect(browseButton, &QPushButton::clicked, this, &CCalcFWUpdateMSDialog::onBrowseFolder);
    connect(worker, &CUpdateWorker::loopFailed, this, &CCalcFWUpdateMSDialog::onLoopFailed);
    connect(worker, &CUpdateWorker::tooManyDisks, this, &CCalcFWUpdateMSDialog::onTooManyDisks);
    connect(worker, &CUpdateWorker::calculatorProgress, this,
            &CCalcFWUpdateMSDialog::onCalculatorProgress);
    connect(worker, &CUpdateWorker::membersMissing, this, &CCalcFWUpdateMSDialog::onMembersMissing);
    connect(this, &CCalcFWUpdateMSDialog::releaseEnded, this,
            &CCalcFWUpdateMSDialog::onReleaseEnded, Qt::QueuedConnection);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(this, &CCalcFWUpdateMSDialog::setDigested, this, &CCalcFWUpdateMSDialog::onSetDigested,
            Qt::QueuedConnection);
}

CCalcFWUpdateMSDialog::~CCalcFWUpdateMSDialog() {
    digests_.waitIdle();
    abortUpdate();
    // The release refers to this dialog; it ends before the dialog does.
    releases_.waitIdle();
    // The worker reaches this dialog through the link; it must be gone first.
    // Its loop has returned and its thread has ended, so nothing else refers
    // to either object any more.
    shutdownWorker();
    delete worker;
    delete workerThreadGuard_.data();
    setDialogLink(nullptr);
    setCurrentLanguageSource(nullptr);
}

void CCalcFWUpdateMSDialog::shutdownWorker() {
    if (workerShutDown_)
        return;
    workerShutDown_ = true;
    worker->stopRequested.store(true);
    // A finish command that has begun is sent to its end, like a transfer.
    releases_.waitIdle();
    if (QThread* thread = workerThreadGuard_.data()) {
        // quit() before the loop has returned is kept: the thread's event
        // loop ends as soon as process() gives control back.
        thread->quit();
        thread->wait();
    }
}

void CCalcFWUpdateMSDialog::raiseUpdateProgress(int percent) {
    emit updateProgress(percent);
}

void CCalcFWUpdateMSDialog::raiseUpdateMessage(const QString& text) {
    emit updateMessage(text);
}

void CCalcFWUpdateMSDialog::setLanguage(int value) {
    if (isValidLanguage(value))
        language = value;
}

void CCalcFWUpdateMSDialog::loadSettings() {
    const StoredSettings stored = readStoredSettings();
    setLanguage(stored.language);
    workFolder = stored.workFolder;
}

void CCalcFWUpdateMSDialog::finishUpdate(const QString& message, AfterRelease after) {
    qCInfo(lcUi).noquote() << "the run ends:" << message;
    // A set still being read belongs to the run that ends here.
    ++scanGeneration_;
    cancelButton->hide();
    progressBar->hide();
    statusLabel->setText(message);
    spareLabel1->clear();
    fileLabel->clear();
    fileLabel->setToolTip(QString());
    // What held while the run went on holds no more.
    clearFourthLine(FourthLine::KeepConnected);
    clearFourthLine(FourthLine::Disconnected);
    worker->stopRequested.store(true);
    restartWanted_ = false;
    // No transfer runs when a run ends. The release below may take seconds
    // (six searches for an absent calculator, a slow disk); the window may
    // close meanwhile, and the process waits for the release before it ends.
    transferActive.store(false);
    ++pendingReleases_;
    const bool exitAfter = after == AfterRelease::ExitWhenFinished;
    releases_.post([this, exitAfter] {
        // The run's pause, then the finish command (session/update_run.h).
        (void)releaseUpdateDisks(updateVendorId, updateProductId);
        released_.post(run_.state());
        emit releaseEnded(exitAfter, true);
    });
}

void CCalcFWUpdateMSDialog::finishLeftCalculators() {
    releases_.post([this] {
        released_.post(run_.finishLeft());
        emit releaseEnded(false, false);
    });
}

void CCalcFWUpdateMSDialog::onReleaseEnded(bool exitAfter, bool runOver) {
    const RunStep finish = released_.take().value_or(RunStep{});
    qCInfo(lcUi) << (runOver ? "the run's release ended with"
                             : "the finish command of those that "
                               "left ended with")
                 << finish.result.code;
    if (!runOver)
        return;
    pendingReleases_ -= 1;
    if (exitAfter) {
        // "Done" stays, as the files were all written; but an automatic exit
        // would hide that a calculator may not have completed the update, or
        // that one plugged in meanwhile still waits for an update of its own.
        QStringList warnings;
        if (const QString warning = unfinishedWarning(finish.result); !warning.isEmpty())
            warnings << warning;
        if (!leftAloneNotice_.isEmpty())
            warnings << leftAloneNotice_;
        if (!warnings.isEmpty()) {
            showFourthLine(FourthLine::Warning, warnings.join(QLatin1Char('\n')));
            offerClose();
        } else {
            QTimer::singleShot(pacing::scaledMs(kExitDelayMs), this,
                               &CCalcFWUpdateMSDialog::onExitUpdater);
        }
    }
    if (pendingReleases_ == 0 && restartWanted_) {
        restartWanted_ = false;
        startRun();
    }
}

void CCalcFWUpdateMSDialog::abortUpdate() {
    finishUpdate(localisedText(kTextAborted));
}

void CCalcFWUpdateMSDialog::onUpdaterRan(int code) {
    const RunStep step = worker->takeStep();
    // The run has applied its rule to each calculator; the dialog shows what
    // it decided and hands the worker what follows.
    const SequenceDecision& next = step.decision;
    qCInfo(lcUi) << "file" << currentIndex << "ended with" << code << "after"
                 << worker->retryCount.load() << "failures";
    const QString notice = leftAloneNotice(step);
    leftAloneNotice_ = notice;
    if (!notice.isEmpty())
        showFourthLine(FourthLine::Warning, notice);
    showCalculatorResults(step, false);
    worker->retryCount.store(next.next.failures);
    // A calculator that failed for good leaves update mode now; the others
    // go on without it.
    if (!next.leaving.empty() && (next.step == NextStep::Retry || next.step == NextStep::NextFile))
        finishLeftCalculators();
    const bool anyLeft = std::any_of(step.calculators.begin(), step.calculators.end(),
                                     [](const CalculatorState& state) { return state.left; });
    // The number alone does not tell a user what to do; the causes and what
    // to do stay in the fourth label until the next transfer starts.
    const QString failures =
        failureText(step) + (notice.isEmpty() ? QString() : QLatin1Char('\n') + notice);
    switch (next.step) {
    case NextStep::Retry:
        showFourthLine(FourthLine::Cause, failures);
        statusLabel->setText(
            QStringLiteral("Update failed (%1), Retry: %2").arg(next.code).arg(next.next.failures));
        setCurrentFile();
        return;
    case NextStep::Failed:
        showFourthLine(FourthLine::Cause, failures);
        showCalculatorResults(step, true);
        finishUpdate(QStringLiteral("Update failed (%1)").arg(next.code));
        offerClose();
        emit updateEnded(false);
        return;
    case NextStep::Done: {
        statusLabel->setText(QStringLiteral("Update OK (%1)").arg(worker->result.load()));
        showCalculatorResults(step, true);
        // With several calculators the list is the record of which holds
        // what: it stays until the user has read it.
        const bool several = step.calculators.size() > 1;
        finishUpdate(localisedText(kTextDone),
                     several ? AfterRelease::Stay : AfterRelease::ExitWhenFinished);
        if (several)
            offerClose();
        emit updateEnded(true);
        return;
    }
    case NextStep::NextFile:
        // Once a calculator has failed for good, no file reads "OK" for the run.
        if (anyLeft) {
            statusLabel->setText(QStringLiteral("Update failed (%1)").arg(next.code));
            showFourthLine(FourthLine::Cause, failures);
        } else {
            statusLabel->setText(QStringLiteral("Update OK (%1)").arg(worker->result.load()));
        }
        currentIndex = next.next.index;
        setCurrentFile();
        // The worker stored Succeeded before it announced the result, so this
        // store is the last one and the next transfer starts.
        worker->state.store(CUpdateWorker::Transferring, std::memory_order_release);
        return;
    }
}

void CCalcFWUpdateMSDialog::offerClose() {
    closeButton->show();
    closeButton->setDefault(true);
    closeButton->setFocus();
}

void CCalcFWUpdateMSDialog::onCancel() {
    // What the click means is what the button read: the worker arms the
    // countdown before the first "Start - N" is shown, and a click on
    // "Cancel" in that time must abort, not start the transfer.
    if (startOffered_) {
        int left = startCountdownMs.load();
        while (left != 0) {
            if (startCountdownMs.compare_exchange_weak(left, kStartNowMs))
                return;
        }
        // The countdown has just ended: the transfer starts; nothing to abort.
        return;
    }
    // Once the countdown is over a transfer is about to start or running; a
    // late click on the button must not abort it.
    if (worker->isRunning() && !worker->stopRequested.load()) {
        const int state = worker->state.load();
        if (state != CUpdateWorker::WaitingForDevice && state != CUpdateWorker::StartCountdown)
            return;
    }
    abortUpdate();
    close();
}

void CCalcFWUpdateMSDialog::onWaitingStart() {
    if (runEnded())
        return;
    const int left = startCountdownMs.load();
    if (left != 0) {
        statusLabel->setText(localisedText(kTextWaitingToStart));
        startOffered_ = true;
        cancelButton->setText(localisedText(kTextStart) + QStringLiteral(" - ") +
                              QString::number(left > 0 ? left / 1000 : 0));
    } else {
        statusLabel->clear();
        // The transfer starts next; the button no longer stands for anything.
        cancelButton->setEnabled(false);
    }
}

void CCalcFWUpdateMSDialog::onDownloadActive() {
    // Flashing tools say it, and a calculator unplugged now must be plugged
    // in again before the update can go on.
    showFourthLine(FourthLine::KeepConnected, localisedText(kTextKeepConnected));
    bool expected = false;
    if (transferActive.compare_exchange_strong(expected, true))
        statusLabel->clear();
    cancelButton->setText(localisedText(kTextStart));
    cancelButton->setEnabled(false);
}

void CCalcFWUpdateMSDialog::onDownloadInactive() {
    // When onUpdaterRan has already handed the next file over, the flag now
    // belongs to that transfer.
    if (worker->state.load() != CUpdateWorker::Transferring)
        transferActive.store(false);
}

void CCalcFWUpdateMSDialog::onFoundDevice() {
    // The worker armed the countdown before it announced the device, so that
    // its first step never depends on how soon this slot runs. Writing 5250
    // again here could only stretch a countdown that has already begun.
    // A warning about too many calculators no longer holds once one is found.
    clearFourthLine(FourthLine::TooMany);
}

bool CCalcFWUpdateMSDialog::runEnded() const {
    // After finishUpdate the worker may still deliver a waiting announcement
    // it sent just before it saw the stop, for example when the first scan
    // came late on a slow start; it must not cover the final text.
    return worker->stopRequested.load();
}

void CCalcFWUpdateMSDialog::onWaitingTicks(int ticks) {
    if (runEnded())
        return;
    QString text = localisedText(kTextWaitingForConnection);
    text.chop(1);
    for (int i = 0; i < ticks; ++i)
        text += QLatin1Char('.');
    statusLabel->setText(text);
}

void CCalcFWUpdateMSDialog::onUpdateMessage(const QString& text) {
    showFileLine(text);
}

void CCalcFWUpdateMSDialog::showFileLine(const QString& text) {
    // A deep folder would widen the window past the screen's edge: the
    // middle of the path gives way, and the whole of it is the tool tip.
    const QFontMetrics metrics = fileLabel->fontMetrics();
    const QString shown =
        metrics.elidedText(text, Qt::ElideMiddle, typicalCharWidth(metrics) * kPathChars);
    fileLabel->setText(shown);
    fileLabel->setToolTip(shown == text ? QString() : text);
    widenForTexts();
}

void CCalcFWUpdateMSDialog::showFourthLine(FourthLine kind, const QString& text) {
    fourthLine_ = text.isEmpty() ? FourthLine::Empty : kind;
    spareLabel2->setText(text);
    widenForTexts();
}

void CCalcFWUpdateMSDialog::clearFourthLine(FourthLine kind) {
    if (fourthLine_ == kind)
        showFourthLine(FourthLine::Empty, QString());
}

void CCalcFWUpdateMSDialog::onMembersMissing(const QStringList& calculators) {
    if (runEnded())
        return;
    if (calculators.isEmpty())
        clearFourthLine(FourthLine::Disconnected);
    else
        showFourthLine(
            FourthLine::Disconnected,
            localisedText(kTextDisconnected).arg(calculators.join(QStringLiteral(", "))));
}

void CCalcFWUpdateMSDialog::widenForTexts() {
    // The minimum width is fixed, so a long failure text would be cut off at
    // the window's edge; the window grows instead (never shrinks), up to a
    // width that still reads as one window (never past the screen).
    layout()->activate(); // the labels' present widths, not those of the last pass
    int missing = 0;
    for (const QLabel* label : {statusLabel, spareLabel1, fileLabel, spareLabel2})
        missing = qMax(missing, label->sizeHint().width() - label->width());
    int wanted = width() + qMax(missing, 0);
    if (const QScreen* display = screen()) {
        const int room =
            qMin(display->availableGeometry().width(),
                 qMax(minimumWidth(), typicalCharWidth(fontMetrics()) * kWidestTextChars));
        // Wider than that: the cause of a failure, the one text long enough
        // for that, goes on over more lines, as wide as the window at that
        // width leaves it, instead of being cut off.
        if (wanted > room && !spareLabel2->wordWrap() &&
            spareLabel2->sizeHint().width() - spareLabel2->width() == missing) {
            spareLabel2->setWordWrap(true);
            spareLabel2->setMinimumWidth(qMax(0, spareLabel2->width() + room - width()));
        }
        wanted = qMin(wanted, room);
    }
    // Every line of a wrapped cause is kept: the label asks for the height its
    // text takes at its width, and the window grows to hold it.
    // (An empty label has no height for a width: -1.)
    if (spareLabel2->wordWrap())
        spareLabel2->setMinimumHeight(
            qMax(0, spareLabel2->heightForWidth(spareLabel2->minimumWidth())));
    layout()->activate();
    if (wanted > width() || minimumSizeHint().height() > height())
        resize(wanted, qMax(height(), minimumSizeHint().height()));
}

void CCalcFWUpdateMSDialog::onUpdateProgress(int percent) {
    progressBar->setValue(percent);
}

void CCalcFWUpdateMSDialog::onExitUpdater() {
    QCoreApplication::exit(0);
}

void CCalcFWUpdateMSDialog::onLoopFailed(int code) {
    transferActive.store(false);
    showFourthLine(FourthLine::Cause, localisedText(kTextStoppedUnexpectedly));
    finishUpdate(QStringLiteral("Update failed (%1)").arg(code));
    offerClose();
    emit updateEnded(false);
}

void CCalcFWUpdateMSDialog::onTooManyDisks(int count) {
    if (runEnded())
        return;
    if (count <= kMaxCalculators)
        clearFourthLine(FourthLine::TooMany);
    else
        showFourthLine(FourthLine::TooMany, localisedText(kTextTooManyCalculators).arg(count));
}

QTreeWidgetItem* CCalcFWUpdateMSDialog::calculatorRow(const QString& calculator) {
    const QList<QTreeWidgetItem*> found =
        calculatorList->findItems(calculator, Qt::MatchExactly, kColumnCalculator);
    if (!found.isEmpty())
        return found.first();
    auto* row = new QTreeWidgetItem(calculatorList, QStringList{calculator});
    row->setTextAlignment(kColumnProgress, Qt::AlignRight | Qt::AlignVCenter);
    // In the order of their serials, not of their first report, so that a row
    // stays where it is from one run to the next.
    calculatorList->sortItems(kColumnCalculator, Qt::AscendingOrder);
    fitCalculatorList();
    return row;
}

void CCalcFWUpdateMSDialog::fitCalculatorList() {
    const int rows = calculatorList->topLevelItemCount();
    if (rows < 2)
        return;
    // Sized from the font's own rows, so that it reads the same at any scale.
    const int shown = qMin(rows, kCalculatorRowsShown);
    calculatorList->setFixedHeight(calculatorList->header()->sizeHint().height() +
                                   shown * calculatorList->sizeHintForRow(0) +
                                   2 * calculatorList->frameWidth());
    for (int column : {kColumnCalculator, kColumnProgress})
        calculatorList->resizeColumnToContents(column);
    calculatorList->show();
}

void CCalcFWUpdateMSDialog::onCalculatorProgress(const QString& calculator, int percent) {
    calculatorRow(calculator)->setText(kColumnProgress, QStringLiteral("%1%").arg(percent));
}

void CCalcFWUpdateMSDialog::showCalculatorResults(const RunStep& step, bool runOver) {
    for (const CalculatorState& state : step.calculators) {
        QTreeWidgetItem* row = calculatorRow(qStringFromUtf16(describeDisk(state.identity)));
        // What the calculator holds, not how the last step went: "OK" only
        // with every file of the set.
        QString text;
        if (state.filesHeld == step.files)
            text = localisedText(kTextRowOk);
        else if (state.left || (!runOver && state.last != kResultOk))
            text = localisedText(kTextRowFailed).arg(state.last);
        else if (runOver)
            text = localisedText(kTextRowIncomplete).arg(state.filesHeld).arg(step.files);
        else
            text = localisedText(kTextRowFiles).arg(state.filesHeld).arg(step.files);
        row->setText(kColumnResult, text);
        row->setToolTip(kColumnResult, qStringFromUtf16(state.cause));
        if (runOver)
            qCInfo(lcUi).noquote() << "result:" << row->text(kColumnCalculator) << "|" << text;
    }
    for (const DiskIdentity& identity : step.leftAlone)
        calculatorRow(qStringFromUtf16(describeDisk(identity)))
            ->setText(kColumnResult, localisedText(kTextRowLeftAlone));
    fitCalculatorList();
}

QString CCalcFWUpdateMSDialog::failureText(const RunStep& step) const {
    // Each calculator that failed, by name with its cause; what to do once
    // for each kind of failure. Before any calculator was reached, the
    // transfer's own cause.
    QStringList causes;
    QStringList advice;
    const auto add = [&](const std::u16string& cause, Failure failure, const DiskIdentity* who) {
        // An unplugged calculator is asked for first of all: that is what
        // happened, whatever error its leaving caused.
        if (failure == Failure::Disconnected && who)
            causes << localisedText(kTextDisconnected).arg(qStringFromUtf16(describeDisk(*who)));
        else if (!cause.empty())
            causes << qStringFromUtf16(cause);
        const QString next = localisedAdvice(adviceFor(failure));
        if (!next.isEmpty() && !advice.contains(next) && failure != Failure::Disconnected)
            advice << next;
    };
    for (const CalculatorState& state : step.calculators) {
        if (state.last != kResultOk && (state.left || state.failures > 0))
            add(state.cause, state.failure, &state.identity);
    }
    if (step.calculators.empty() && step.result.code != kResultOk)
        add(step.result.cause, step.result.failure, nullptr);
    return (causes + advice).join(QLatin1Char('\n'));
}

void CCalcFWUpdateMSDialog::onBrowseFolder() {
    QFileDialog dialog(this, QString(), QString(), QString());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setDirectory(workFolder);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The folder the user chose, not the one the dialog was showing: that is
    // its parent when a folder was picked with a click.
    const QString chosen = dialog.selectedFiles().value(0);
    workFolder = chosen.isEmpty() ? dialog.directory().path() : chosen;
    scanFirmwareFolder();
}

void CCalcFWUpdateMSDialog::showEvent(QShowEvent* event) {
    qCInfo(lcUi) << "the window is shown";
    QDialog::showEvent(event);
}

void CCalcFWUpdateMSDialog::closeEvent(QCloseEvent* event) {
    if (transferActive.load())
        event->ignore();
    else
        event->accept();
}

void CCalcFWUpdateMSDialog::reject() {
    close();
}

void CCalcFWUpdateMSDialog::prepareNewRun() {
    cancelButton->setText(localisedText(kTextCancel));
    cancelButton->setEnabled(true);
    cancelButton->setFocus();
    closeButton->hide();
    startOffered_ = false;
    statusLabel->clear();
    progressBar->show();
    progressBar->reset();
    calculatorList->clear();
    calculatorList->hide();
    leftAloneNotice_.clear();
}

void CCalcFWUpdateMSDialog::startNewRun() {
    // The last run's finish command may still be on its way: the new run
    // begins once it has gone out.
    if (pendingReleases_ > 0)
        restartWanted_ = true;
    else
        startRun();
}

void CCalcFWUpdateMSDialog::startRun() {
    beginRun();
    worker->restart();
}

void CCalcFWUpdateMSDialog::beginRun() {
    run_.begin(runFilesOf(fileList), worker);
}

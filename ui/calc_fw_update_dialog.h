// The updater's one window and the owner of an update run: it chooses the
// files, hands them to the worker, and turns the worker's signals into texts,
// buttons and progress.
#pragma once

#include "base/mailbox.h"
#include "device/calculators.h"
#include "firmware/firmware_file.h"
#include "firmware/firmware_scan.h"
#include "session/update_run.h"
#include "ui/serial_jobs.h"
#include "worker/dialog_link.h"
#include "worker/update_worker.h"

#include <QDialog>
#include <QIcon>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

class CUpdateWorker;
class QCloseEvent;
class QShowEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

class CCalcFWUpdateMSDialog : public QDialog, public DialogLink {
    Q_OBJECT
public:
    CCalcFWUpdateMSDialog(QString folder, int language, QWidget* parent = nullptr);
    ~CCalcFWUpdateMSDialog() override;

    // startCountdownMs and transferActive come from DialogLink.
    QIcon appIcon;
    QIcon folderIcon; // read when Browse is first shown
    bool newNamingScheme = false;
    int language = 1;
    QProgressBar* progressBar = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* browseButton = nullptr;
    // Shown when a run has ended and its result stays on screen: a final
    // failure, or the end of a run of several calculators.
    QPushButton* closeButton = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* spareLabel1 = nullptr; // an empty line between the status and the file
    QLabel* fileLabel = nullptr;
    QLabel* spareLabel2 = nullptr; // the cause of the last failure, and warnings
    // Under the bar, only while a run has more than one calculator: a row per
    // calculator with its serial, the progress of its file and its last result.
    QTreeWidget* calculatorList = nullptr;
    int currentIndex = 0;
    FirmwareFileList fileList;
    QThread* workerThread = nullptr;
    CUpdateWorker* worker = nullptr;
    QString workFolder;

    // Firmware discovery.
    void scanFirmwareFolder();
    void setCurrentFile();

    // End of a run. The message shows at once; the pause and the release of
    // the update disks run on a thread of their own, so that the window keeps
    // painting, and releaseEnded follows. With ExitWhenFinished the
    // application exits 3 s after a release that every calculator took; a
    // calculator that did not is named in the fourth label instead, and the
    // window stays open with its Close button.
    enum class AfterRelease { Stay, ExitWhenFinished };
    void finishUpdate(const QString& message, AfterRelease after = AfterRelease::Stay);
    void abortUpdate();

    // Language and folder choice.
    void setLanguage(int value);
    void loadSettings();

    // Asks the worker to stop and waits for its thread, and for every release
    // of the update disks begun so far. A running transfer is finished first.
    // Safe to call more than once.
    void shutdownWorker();

    // DialogLink: called on transfer threads.
    void raiseUpdateProgress(int percent) override;
    void raiseUpdateMessage(const QString& text) override;

signals:
    void updateMessage(const QString& text);
    void updateProgress(int percent);
    // Raised on the release thread when a release has ended; the run as it
    // stands after it waits in released_. runOver: the run's last release,
    // not the finish command of calculators that left while the others go on.
    void releaseEnded(bool exitAfter, bool runOver);
    // Raised on the digest thread when a scan's set has been read whole; it
    // waits in digested_.
    void setDigested();
    // The run is over for good: after "Done", or after the last retry failed.
    void updateEnded(bool succeeded);

private slots:
    void onCancel();
    void onUpdaterRan(int code);
    void onUpdateMessage(const QString& text);
    void onUpdateProgress(int percent);
    void onFoundDevice();
    void onWaitingStart();
    void onDownloadActive();
    void onDownloadInactive();
    void onWaitingTicks(int ticks);
    void onExitUpdater();
    void onBrowseFolder();
    void onLoopFailed(int code);
    void onTooManyDisks(int count);
    void onCalculatorProgress(const QString& calculator, int percent);
    void onMembersMissing(const QStringList& calculators);
    void onReleaseEnded(bool exitAfter, bool runOver);
    // A scan's set read whole, or why it cannot be used.
    void onSetDigested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    // Escape follows the rule of the close button.
    void reject() override;

private:
    // Brings back what the end of an earlier run hid or stopped.
    void prepareNewRun();
    // A new run of the files found, once the last run's finish command has
    // gone out.
    void startNewRun();
    // "No updates are available", why, and what to do.
    void showNoUpdates(const ScanProblem& problem);
    // A new run of the files found, and the worker started on it.
    void startRun();
    void beginRun();
    void widenForTexts();
    // The third line: a file's or folder's path, shortened to fit.
    void showFileLine(const QString& text);
    // What the fourth line says, so that a notice is taken back only by what
    // ended it, not over a cause or a warning shown since.
    enum class FourthLine { Empty, Cause, Warning, KeepConnected, TooMany, Disconnected };
    void showFourthLine(FourthLine kind, const QString& text);
    void clearFourthLine(FourthLine kind);
    // The row of a calculator, made when it is first heard of; the list is
    // shown from its second row on.
    QTreeWidgetItem* calculatorRow(const QString& calculator);
    void fitCalculatorList();
    // Each calculator's row: what it holds of the set, or how its last file
    // went while the run goes on.
    void showCalculatorResults(const RunStep& step, bool runOver);
    // The fourth line after a failed file: each failed calculator's cause,
    // and what to do next.
    [[nodiscard]] QString failureText(const RunStep& step) const;
    // The end of a run whose result stays on screen: the Close button.
    void offerClose();
    // The finish command for calculators that left the run, on the release
    // thread, while the others go on.
    void finishLeftCalculators();
    // What screen readers are told (dialog_accessibility.cpp).
    void describeForAssistiveTools();
    // The taskbar button or launcher icon follows the run (progress_outside.cpp).
    void showProgressOutside();
    // True once the dialog has told the worker to stop.
    [[nodiscard]] bool runEnded() const;

    QPointer<QThread> workerThreadGuard_;
    bool workerShutDown_ = false;
    // GUI thread only. The button reads "Start - N" (a click starts at once)
    // rather than "Cancel" (a click aborts).
    bool startOffered_ = false;
    FourthLine fourthLine_ = FourthLine::Empty;
    // Releases posted and not yet reported back; a new run's worker starts
    // only after the last of them, so that no finish command can reach the
    // calculator in the middle of the new run's first file.
    int pendingReleases_ = 0;
    bool restartWanted_ = false;
    // The update run, its one owner: the worker and the release drive it, and
    // each of its steps comes back here as a value. Outlives the releases.
    UpdateRun run_;
    SerialJobs releases_;
    // Reads the images of a scan whole, off the GUI thread; the scan whose
    // result still counts is the latest (an end of the run counts as one).
    SerialJobs digests_;
    int scanGeneration_ = 0;
    // Handed from those threads to the GUI thread, each taken once.
    Mailbox<RunStep> released_;
    Mailbox<std::pair<int, FirmwareScan>> digested_; // with the scan's generation
    // Who was plugged in during the run and left alone; said after "Done" too.
    QString leftAloneNotice_;
};

// The one dialog; set at the start of its construction.
extern CCalcFWUpdateMSDialog* theDialog;

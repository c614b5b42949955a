// The part of the one update dialog that the worker and the transfer threads
// may touch. The dialog derives from this and registers itself at
// construction, before its worker thread starts; the worker never sees the
// dialog's widgets.
#pragma once

#include <QString>

#include <atomic>

class DialogLink {
public:
    // Start countdown in milliseconds. Written by the GUI thread (5250 when
    // the device is found, 1000 for Start) and by the worker thread (its
    // 1000 ms steps, always through a compare-and-swap so that neither write
    // is lost).
    std::atomic<int> startCountdownMs{0};
    // True while a file transfer runs; the window refuses to close then. The
    // worker sets it when a transfer starts and clears it when its loop ends
    // by an exception (the dialog would never hear of the transfer's end);
    // the GUI thread sets it in onDownloadActive and clears it when the
    // transfer is over or the run ends.
    std::atomic<bool> transferActive{false};

    // Raised on transfer threads; delivered to the GUI thread queued.
    virtual void raiseUpdateProgress(int percent) = 0;
    virtual void raiseUpdateMessage(const QString& text) = 0;

protected:
    DialogLink() = default;
    ~DialogLink() = default;
    DialogLink(const DialogLink&) = delete;
    DialogLink& operator=(const DialogLink&) = delete;
};

// The process-wide link to the dialog; null until the dialog registers.
[[nodiscard]] DialogLink* dialogLink();
void setDialogLink(DialogLink* link);

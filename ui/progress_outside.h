// The update's progress outside the window, where the desktop keeps a place
// for a program's progress: the taskbar button on Windows, the launcher icon
// of Linux docks that follow Unity's LauncherEntry signal. The operating
// system's half is progress_outside_windows.cpp or progress_outside_linux.cpp,
// chosen by CMake.
#pragma once

#include <QObject>

#include <functional>

class QWidget;

struct OutsideProgress {
    enum class Mode { Hidden, Running, Failed };
    Mode mode = Mode::Hidden;
    double fraction = 0.0; // of the whole update, 0..1; kept while Failed

    bool operator==(const OutsideProgress& other) const {
        return mode == other.mode && fraction == other.fraction;
    }
};

class ProgressOutside : public QObject {
public:
    using QObject::QObject;

    // The place for window's progress, a child of window; null where the
    // platform offers none. The offscreen and minimal platforms have no
    // desktop, so there it never tries.
    [[nodiscard]] static ProgressOutside* create(QWidget* window);

    void setRunning(double fraction);
    // After the last retry failed: shown as an error (Windows) or as a
    // request for attention (Linux docks); the progress stays where it was.
    void setFailed();
    void setHidden();
    [[nodiscard]] const OutsideProgress& state() const { return state_; }

protected:
    // Hands a changed state to the desktop. Failures are ignored: the
    // progress outside is a courtesy, the window shows everything.
    virtual void apply(const OutsideProgress& state) = 0;

private:
    // The desktop's own, defined in the operating system's file.
    [[nodiscard]] static ProgressOutside* createForDesktop(QWidget* window);
    void change(const OutsideProgress& next);
    OutsideProgress state_;
};

// The share of the whole update that is written when file `index` (from 0)
// of `count` files is at `percent`.
[[nodiscard]] double overallFraction(int index, int count, int percent);

namespace progress_outside::testing {
// Makes ProgressOutside::create use `factory` instead of the desktop's; an
// empty function restores it.
void setFactory(std::function<ProgressOutside*(QWidget*)> factory);
} // namespace progress_outside::testing

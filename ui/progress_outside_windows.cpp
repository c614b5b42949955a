// Windows' place for the progress: the program's taskbar button.
#include "ui/progress_outside.h"

#include <QGuiApplication>
#include <QWidget>

#include <memory>

// windows.h first: the COM headers rely on its types.
#include <windows.h>

#include <objbase.h>
#include <shobjidl.h>

namespace {

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};
using TaskbarList = std::unique_ptr<ITaskbarList3, ComRelease>;

// COM for this thread, for as long as the object lives. Qt's windows
// platform has already initialised it on the GUI thread; the extra reference
// is harmless, and undone only when it was taken.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};

class TaskbarProgress : public ProgressOutside {
public:
    explicit TaskbarProgress(QWidget* window) : ProgressOutside(window), window_(window) {}

protected:
    void apply(const OutsideProgress& state) override {
        ITaskbarList3* taskbar = list();
        if (!taskbar)
            return;
        const auto hwnd = reinterpret_cast<HWND>(window_->winId());
        constexpr ULONGLONG kSteps = 1000;
        switch (state.mode) {
        case OutsideProgress::Mode::Hidden:
            (void)taskbar->SetProgressState(hwnd, TBPF_NOPROGRESS);
            break;
        case OutsideProgress::Mode::Running:
        case OutsideProgress::Mode::Failed:
            (void)taskbar->SetProgressValue(hwnd, ULONGLONG(state.fraction * kSteps), kSteps);
            (void)taskbar->SetProgressState(
                hwnd, state.mode == OutsideProgress::Mode::Failed ? TBPF_ERROR : TBPF_NORMAL);
            break;
        }
    }

private:
    // Made on first use: by then the window is shown and its taskbar button
    // exists, which the calls need.
    ITaskbarList3* list() {
        if (!tried_) {
            tried_ = true;
            ITaskbarList3* made = nullptr;
            if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_ITaskbarList3, reinterpret_cast<void**>(&made)))) {
                list_.reset(made);
                if (FAILED(list_->HrInit()))
                    list_.reset();
            }
        }
        return list_.get();
    }

    QWidget* window_;
    ComApartment apartment_;
    TaskbarList list_;
    bool tried_ = false;
};

} // namespace

ProgressOutside* ProgressOutside::createForDesktop(QWidget* window) {
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        return nullptr;
    return new TaskbarProgress(window);
}

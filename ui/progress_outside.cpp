#include "ui/progress_outside.h"

#include "ui/calc_fw_update_dialog.h"

#include <QProgressBar>

#include <algorithm>

namespace {

std::function<ProgressOutside*(QWidget*)>& testFactory() {
    static std::function<ProgressOutside*(QWidget*)> factory;
    return factory;
}

} // namespace

ProgressOutside* ProgressOutside::create(QWidget* window) {
    if (testFactory())
        return testFactory()(window);
    return createForDesktop(window);
}

void ProgressOutside::setRunning(double fraction) {
    change({OutsideProgress::Mode::Running, std::clamp(fraction, 0.0, 1.0)});
}

void ProgressOutside::setFailed() {
    change({OutsideProgress::Mode::Failed, state_.fraction});
}

void ProgressOutside::setHidden() {
    change({OutsideProgress::Mode::Hidden, 0.0});
}

void ProgressOutside::change(const OutsideProgress& next) {
    if (next == state_)
        return;
    state_ = next;
    apply(state_);
}

double overallFraction(int index, int count, int percent) {
    if (count <= 0)
        return 0.0;
    const double done = index + std::clamp(percent, 0, 100) / 100.0;
    return std::clamp(done / count, 0.0, 1.0);
}

void progress_outside::testing::setFactory(std::function<ProgressOutside*(QWidget*)> factory) {
    testFactory() = std::move(factory);
}

void CCalcFWUpdateMSDialog::showProgressOutside() {
    ProgressOutside* outside = ProgressOutside::create(this);
    if (!outside)
        return;
    // The bar shows the file being written; outside the window, where there
    // is room for one bar only, it stands for the whole update.
    connect(progressBar, &QProgressBar::valueChanged, outside, [this, outside](int percent) {
        outside->setRunning(overallFraction(currentIndex, int(fileList.size()), percent));
    });
    connect(this, &CCalcFWUpdateMSDialog::updateEnded, outside, [outside](bool succeeded) {
        if (succeeded)
            outside->setHidden();
        else
            outside->setFailed();
    });
}

#include "worker/dialog_link.h"

namespace {
std::atomic<DialogLink*> theLink{nullptr};
} // namespace

DialogLink* dialogLink() {
    return theLink.load(std::memory_order_acquire);
}

void setDialogLink(DialogLink* link) {
    theLink.store(link, std::memory_order_release);
}

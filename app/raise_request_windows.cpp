#include "app/raise_request.h"

#include <QMetaObject>
#include <QObject>

#include <array>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>

#include <windows.h>

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// Unprefixed, the name lives in the session's namespace, as the guard's
// shared memory does.
std::wstring eventName(const QString& key) {
    return (key + QStringLiteral(".raise")).toStdWString();
}

constexpr ULONGLONG kRequestBoundMs = 1000;
constexpr DWORD kRetryPauseMs = 50;

} // namespace

struct RaiseListener::Impl {
    UniqueHandle request;
    UniqueHandle stop;
    std::thread waiter; // waits on both events; touches nothing else of ours
};

RaiseListener::RaiseListener(const QString& key, QObject* receiver, std::function<void()> onRequest)
    : impl_(std::make_unique<Impl>()) {
    // Auto-reset: each wait takes one request; several set before it wakes
    // make one raise, which is all they ask for.
    impl_->request.reset(CreateEventW(nullptr, FALSE, FALSE, eventName(key).c_str()));
    impl_->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!impl_->request || !impl_->stop)
        return;
    const std::array<HANDLE, 2> events{impl_->request.get(), impl_->stop.get()};
    impl_->waiter = std::thread([events, receiver, onRequest = std::move(onRequest)] {
        while (WaitForMultipleObjects(DWORD(events.size()), events.data(), FALSE, INFINITE) ==
               WAIT_OBJECT_0)
            QMetaObject::invokeMethod(receiver, onRequest, Qt::QueuedConnection);
    });
}

RaiseListener::~RaiseListener() {
    if (impl_->waiter.joinable()) {
        SetEvent(impl_->stop.get());
        impl_->waiter.join();
    }
}

bool requestRaise(const QString& key) {
    const ULONGLONG deadline = GetTickCount64() + kRequestBoundMs;
    for (;;) {
        UniqueHandle request(OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName(key).c_str()));
        if (request) {
            // Windows lets a process take the foreground only when the
            // foreground process allows it. This start, just launched by the
            // user, may hand that right on, and must do so before the first
            // instance wakes and asks for the foreground.
            AllowSetForegroundWindow(ASFW_ANY);
            return SetEvent(request.get()) != 0;
        }
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(kRetryPauseMs);
    }
}

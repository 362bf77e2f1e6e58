#include "common/message_box.h"

#include <atomic>

namespace {
std::atomic<MessageBoxObserver> g_observer{nullptr};
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
    if (MessageBoxObserver observer = g_observer.load()) {
        return observer(owner, text, caption, style);
    }
    return MessageBoxW(owner, text, caption, style);
}

void SetMessageBoxObserver(MessageBoxObserver observer) {
    g_observer.store(observer);
}

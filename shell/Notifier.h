#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <type_traits>
#include <utility>

namespace tallowdesk::shell {

// The one way a worker thread talks to the UI thread (the application
// object's thread, where every window lives).
//
// Rule: a worker SENDS when the payload points into memory the worker owns
// (a string on its stack, a reply document it frees afterwards): Send() blocks
// until the handler has returned, so the handler copies what it keeps. A
// worker POSTS only values (an index, a copied record): Post() queues the call
// and returns at once.
//
// Send called on the UI thread calls directly: a blocking queued call to
// one's own thread deadlocks. The UI thread must never wait for a worker, or a
// worker's Send would wait forever. Receivers are checked on the UI thread
// (see Port in UiMessages.h), never touched from the worker.
namespace notifier {

inline QObject* UiContext() {
    return QCoreApplication::instance();
}

// Runs fn on the UI thread and waits for it. Returns false when it could not
// run (no application any more).
template <typename Fn>
bool Send(Fn&& fn) {
    QObject* ui = UiContext();
    if (!ui) return false;
    if (QThread::currentThread() == ui->thread()) {
        std::forward<Fn>(fn)();
        return true;
    }
    bool ran = false;
    QMetaObject::invokeMethod(
        ui,
        [&ran, &fn] {
            fn();
            ran = true;
        },
        Qt::BlockingQueuedConnection);
    return ran;
}

// Queues fn for the UI thread. fn must carry its payload by value.
template <typename Fn>
void Post(Fn fn) {
    static_assert(std::is_copy_constructible_v<Fn>, "a posted call carries its payload by value");
    if (QObject* ui = UiContext())
        QMetaObject::invokeMethod(ui, std::move(fn), Qt::QueuedConnection);
}

}  // namespace notifier
}  // namespace tallowdesk::shell

#include "SessionEnd.h"

#include <QCoreApplication>

namespace tallowdesk::shell {

QString SessionEndRefusal(SessionEndKind kind, const SessionActivity& activity) {
    if (!activity.transferBusy && activity.exportsRunning <= 0) return {};
    if (kind == SessionEndKind::SignOut)
        return QCoreApplication::translate(
            "SessionEnd",
            "Files are still being transferred. Wait until the transfer has ended, or cancel it, "
            "then sign out.");
    return QCoreApplication::translate(
        "SessionEnd",
        "Files are still being transferred. Wait until the transfer has ended, or cancel it, "
        "then switch account.");
}

SessionEndPlan PlanSessionEnd(SessionEndKind kind) {
    if (kind == SessionEndKind::SignOut) return {true, LoginPrefill::AccountNameOnly};
    return {false, LoginPrefill::Empty};
}

}  // namespace tallowdesk::shell

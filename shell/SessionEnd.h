#pragma once

#include <QString>

namespace tallowdesk::shell {

// Leaving the signed-in account from the window: Sign Out forgets the
// remembered password (the account name stays for the next sign-in), Switch
// Account keeps it and asks for another account.
enum class SessionEndKind { SignOut, SwitchAccount };

// What is running that would outlive the window of the account it belongs to.
struct SessionActivity {
    bool transferBusy = false;  // a download or upload loop
    int exportsRunning = 0;     // export threads, a cancelled one included
};

// Why the session cannot end now; empty when it can. A transfer keeps its
// account: it would go on writing files (or sending them) for a user who is
// gone, and its window with it.
QString SessionEndRefusal(SessionEndKind kind, const SessionActivity& activity);

// How the sign-in dialog opens after the session ended.
enum class LoginPrefill {
    RememberedAccount,  // at start: the remembered e-mail and its password
    AccountNameOnly,    // after Sign Out: the remembered e-mail, no password
    Empty,              // after Switch Account: nothing filled in
};

struct SessionEndPlan {
    bool forgetPassword = false;  // the remembered password goes
    LoginPrefill prefill = LoginPrefill::RememberedAccount;
};

SessionEndPlan PlanSessionEnd(SessionEndKind kind);

}  // namespace tallowdesk::shell

#pragma once

#include "UiMessages.h"
#include "update/UpdateCheck.h"
#include "update/UpdateDownload.h"

namespace tallowdesk::shell {

// What the update workers report. Both are posts: the outcome is a value.
struct UpdateOffer {
    UpdateCheckOutcome check;
    // False where the user cannot replace the program (the system's package
    // manager installed it): the update comes through that instead.
    bool installable = true;
};

class UpdaterMessages {
public:
    virtual ~UpdaterMessages() = default;
    // The check worker ended ("No updates available." or the offer).
    virtual void UpdateCheckFinished(const UpdateOffer& offer) = 0;
    // The install worker ended ("Upgrade finished..." or "Upgrade failed...").
    virtual void UpdateInstallFinished(UpdateInstallResult result) = 0;
};

class UpdaterPort : public Port<UpdaterMessages> {
public:
    using Port::Port;
    void UpdateCheckFinished(UpdateOffer offer) const {  // post
        PostCall([offer](UpdaterMessages& d) { d.UpdateCheckFinished(offer); });
    }
    void UpdateInstallFinished(UpdateInstallResult result) const {  // post
        PostCall([result](UpdaterMessages& d) { d.UpdateInstallFinished(result); });
    }
};

}  // namespace tallowdesk::shell

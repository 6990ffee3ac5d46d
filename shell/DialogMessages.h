#pragma once

#include "UiMessages.h"

namespace tallowdesk::shell {

// The messages of the create-folder and search workers, on the ports of
// UiMessages.h.

class CreateFolderMessages {
public:
    virtual ~CreateFolderMessages() = default;
    // "Create new folder finished.": the service's reply, or null when the
    // folder could not be made. Sent: the reply lives on the worker's stack.
    virtual void CreateNewFolderFinished(const tinyxml2::XMLDocument* reply) = 0;
};

class CreateFolderPort : public Port<CreateFolderMessages> {
public:
    using Port::Port;
    void CreateNewFolderFinished(const tinyxml2::XMLDocument* reply) const {  // send
        SendCall([&](CreateFolderMessages& r) { r.CreateNewFolderFinished(reply); });
    }
};

class SearchMessages {
public:
    virtual ~SearchMessages() = default;
    // The search worker ended: the list holds its results, or failed is set
    // ("Search failed.") and the list stays empty. Either way the processing
    // window goes.
    virtual void SearchEnded(bool failed) = 0;
};

class SearchPort : public Port<SearchMessages> {
public:
    using Port::Port;
    void SearchEnded(bool failed) const {  // post
        PostCall([failed](SearchMessages& r) { r.SearchEnded(failed); });
    }
};

}  // namespace tallowdesk::shell

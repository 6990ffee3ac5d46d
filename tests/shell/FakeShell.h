#pragma once

#include <QStandardPaths>
#include <memory>

#include "AppState.h"
#include "FakeFeeds.h"
#include "Resources.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"

// The window's set-up for tests against the fake document service.
namespace fakes {

// Test-mode paths, the window's resources, the hosts at docs.test and a
// fresh category table; once per test program.
inline void StartFakeShell() {
    QStandardPaths::setTestModeEnabled(true);
    tallowdesk::shell::InitShellResources();
    tallowdesk::ServiceHosts hosts = tallowdesk::ServiceHosts::Defaults();
    hosts.docsHost = "docs.test";
    tallowdesk::SetServiceHosts(hosts);
    tallowdesk::ResetCategoryTable();
}

// Fresh application state whose service calls go to `service`.
inline std::shared_ptr<tallowdesk::shell::AppState> FakeState(
    const std::shared_ptr<FakeService>& service) {
    auto state = std::make_shared<tallowdesk::shell::AppState>();
    state->calls = service->Calls(service);
    return state;
}

}  // namespace fakes

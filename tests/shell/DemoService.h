#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <memory>
#include <string>

#include "Server.h"
#include "dialogs/CLoginDlg.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk::shell {

// The local document service with the demo account on a free loopback port,
// its data in dataDir, and the program's hosts (and category feeds) pointed
// at it with its certificate trusted. UI thread, before any worker runs.
inline std::unique_ptr<server::Server> StartDemoService(const QString& dataDir) {
    server::ServerOptions options;
    options.dataDir = dataDir.toStdString();
    options.port = 0;
    options.passwordIterations = 1000;
    auto service = std::make_unique<server::Server>(options);
    service->SeedDemo();
    const unsigned short port = service->Start();
    ServiceHosts hosts = ServiceHosts::Defaults();
    hosts.docsHost = hosts.accountsHost = "localhost:" + std::to_string(port);
    hosts.caFile = service->CertPath();
    SetServiceHosts(hosts);
    ResetCategoryTable();
    return service;
}

// Signs the demo account in through the login dialog as a user would; true
// once the dialog has accepted.
inline bool SignInDemo(LoginDependencies deps) {
    CLoginDlg dialog(std::move(deps));
    dialog.show();
    dialog.findChild<QLineEdit*>(QStringLiteral("emailEdit"))
        ->setText(QString::fromLatin1(server::kDemoEmail));
    dialog.findChild<QLineEdit*>(QStringLiteral("passwordEdit"))
        ->setText(QString::fromLatin1(server::kDemoPassword));
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
    return QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 30000);
}

}  // namespace tallowdesk::shell

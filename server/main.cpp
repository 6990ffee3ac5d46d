// tallowdesk-server: the local document service.
#include <charconv>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include "Server.h"
#include "Store.h"
#include "settings/ServiceHosts.h"
#include "web/Quota.h"

namespace {

void Usage(std::ostream& out) {
    out << "Usage:\n"
           "  tallowdesk-server [options]            run the service\n"
           "  tallowdesk-server [options] add-user EMAIL\n"
           "                                         create an account (or set its password);\n"
           "                                         the password is read from standard input\n"
           "  tallowdesk-server [options] confirm-user EMAIL\n"
           "                                         confirm the address of an account made\n"
           "                                         on the sign-up page\n"
           "  tallowdesk-server [options] set-quota EMAIL SIZE\n"
           "                                         set an account's storage limit (bytes, or\n"
           "                                         with KB, MB, GB, TB: 500MB, 30GB)\n"
           "Options:\n"
           "  --data-dir DIR     data folder (default "
        << tallowdesk::DefaultServerDataDir()
        << ")\n"
           "  --database URL     keep accounts and entries in PostgreSQL (postgresql://... or\n"
           "                     key=value; file contents stay in the data folder); default:\n"
           "                     SQLite in the data folder\n"
           "  --port N           port on 127.0.0.1 and ::1 (default "
        << tallowdesk::kDefaultLocalPort
        << "; 0 picks a free one)\n"
           "  --listen ADDR:PORT listen here instead (may be repeated; [::1]:8443 for\n"
           "                     IPv6); plain http is answered on loopback addresses only\n"
           "  --cert FILE        certificate chain to serve (PEM), with --key; read again\n"
           "  --key FILE         on SIGHUP. Default: the data folder's own certificate\n"
           "  --trusted-proxy ADDR\n"
           "                     a reverse proxy whose Forwarded / X-Forwarded-For header\n"
           "                     names the client's address (may be repeated)\n"
           "  --page-size N      entries per feed page (default 100, at most 1000)\n"
           "  --request-log FILE append one JSON line per request to FILE (passwords,\n"
           "                     tokens and cookies are blanked out)\n"
           "  --host-name NAME   also answer for this host name (may be repeated;\n"
           "                     localhost, 127.0.0.1 and ::1 always work)\n"
           "  --public-url URL   the address people use (https://docs.example.org, or\n"
           "                     with :PORT behind a proxy); links and redirects\n"
           "                     are written with it (default: the request's Host)\n"
           "  --max-connections N  open connections at most (default: from the\n"
           "                     open-file limit, at most 1024)\n"
           "  --update-dir DIR   publish the program updates in DIR under /updatefiles/\n"
           "  --demo             create the demo account and its documents\n"
           "  --open-sign-up yes|no\n"
           "                     whether anyone may create an account on the web page\n"
           "                     (default yes, as the service listens on loopback only)\n"
           "  --help             show this text\n";
}

bool ParseNumber(const char* text, unsigned long& value) {
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, value);
    return ec == std::errc() && ptr == end;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tallowdesk::server;
    ServerOptions options;
    options.redactRequestLog = true;
    bool demo = false;
    std::string addUser;
    std::string confirmUser;
    std::string quotaUser;
    std::string quotaSize;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::cerr << "tallowdesk-server: " << arg << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        unsigned long number = 0;
        if (arg == "--help" || arg == "-h") {
            Usage(std::cout);
            return 0;
        } else if (arg == "--data-dir") {
            options.dataDir = next();
        } else if (arg == "--database") {
            options.database = next();
            if (!IsPostgresDatabase(options.database)) {
                std::cerr << "tallowdesk-server: --database takes a PostgreSQL address "
                             "(postgresql://...) or key=value connection string\n";
                return 2;
            }
        } else if (arg == "--port") {
            if (!ParseNumber(next(), number) || number > 65535) {
                std::cerr << "tallowdesk-server: invalid port\n";
                return 2;
            }
            options.port = static_cast<unsigned short>(number);
        } else if (arg == "--page-size") {
            if (!ParseNumber(next(), number) || number == 0 || number > 1000) {
                std::cerr << "tallowdesk-server: invalid page size\n";
                return 2;
            }
            options.pageSize = number;
        } else if (arg == "--listen") {
            options.listen.emplace_back(next());
        } else if (arg == "--cert") {
            options.certFile = next();
        } else if (arg == "--key") {
            options.keyFile = next();
        } else if (arg == "--trusted-proxy") {
            options.trustedProxies.emplace_back(next());
        } else if (arg == "--host-name") {
            options.hostNames.emplace_back(next());
        } else if (arg == "--public-url") {
            options.publicUrl = next();
        } else if (arg == "--max-connections") {
            if (!ParseNumber(next(), number) || number == 0 || number > 100000) {
                std::cerr << "tallowdesk-server: invalid connection limit\n";
                return 2;
            }
            options.maxConnections = static_cast<int>(number);
        } else if (arg == "--request-log") {
            options.requestLogPath = next();
        } else if (arg == "--update-dir") {
            options.updateDir = next();
        } else if (arg == "--demo") {
            demo = true;
        } else if (arg == "--open-sign-up") {
            const std::string value = next();
            if (value != "yes" && value != "no") {
                std::cerr << "tallowdesk-server: --open-sign-up takes yes or no\n";
                return 2;
            }
            options.openSignUp = value == "yes";
        } else if (arg == "add-user") {
            addUser = next();
        } else if (arg == "confirm-user") {
            confirmUser = next();
        } else if (arg == "set-quota") {
            quotaUser = next();
            quotaSize = next();
        } else {
            std::cerr << "tallowdesk-server: unknown argument " << arg << "\n";
            Usage(std::cerr);
            return 2;
        }
    }

    try {
        Server server(options);
        if (!addUser.empty()) {
            std::string password;
            std::getline(std::cin, password);
            if (!password.empty() && password.back() == '\r') password.pop_back();
            server.AddUser(addUser, password);
            std::cout << "Account " << addUser << " saved in " << server.DataDir() << "\n";
            return 0;
        }
        if (!confirmUser.empty()) {
            if (!server.GetStore().ConfirmAccount(confirmUser)) {
                std::cerr << "tallowdesk-server: no account " << confirmUser << "\n";
                return 1;
            }
            std::cout << "Account " << NormalEmail(confirmUser) << " confirmed\n";
            return 0;
        }
        if (!quotaUser.empty()) {
            const auto bytes = web::ParseSize(quotaSize);
            if (!bytes) {
                std::cerr << "tallowdesk-server: invalid size " << quotaSize << "\n";
                return 2;
            }
            web::SetQuotaBytes(server.GetStore(), quotaUser, *bytes);
            std::cout << "Storage limit of " << quotaUser << ": " << web::Megabytes(*bytes)
                      << " MB (in use: "
                      << web::Megabytes(server.GetStore().UsageBytes(NormalEmail(quotaUser)))
                      << " MB)\n";
            return 0;
        }
        if (demo) server.SeedDemo();

        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        // Blocked before the I/O threads start, so only sigwait below sees them.
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);

        const unsigned short port = server.Start();
        if (options.listen.empty()) {
            std::cout << "tallowdesk-server listening on https://localhost:" << port
                      << " (plain http on the same port)\n"
                      << "Web pages: http://localhost:" << port << "/\n";
        }
        for (const auto& at : server.Endpoints()) {
            std::cout << "Listening on " << at << "\n";
        }
        std::cout << "Data folder: " << server.DataDir() << "\n"
                  << "Certificate: " << server.CertPath() << "\n";
        if (demo) {
            std::cout << "Demo account: " << kDemoEmail << " / password " << kDemoPassword << "\n";
        }
        std::cout.flush();
        int received = 0;
        while (sigwait(&signals, &received) == 0 && received == SIGHUP) {
            // A renewed certificate (an ACME client's hook sends this) for
            // new connections; open ones go on with the old one.
            try {
                server.ReloadCertificate();
                std::cout << "Certificate read again: " << server.CertPath() << std::endl;
            } catch (const std::exception& e) {
                std::cerr << "tallowdesk-server: " << e.what() << " (keeping the old one)"
                          << std::endl;
                std::cout << "Certificate not read again" << std::endl;
            }
        }
        std::cout << "Stopping\n";
        server.Stop();
    } catch (const std::exception& e) {
        std::cerr << "tallowdesk-server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

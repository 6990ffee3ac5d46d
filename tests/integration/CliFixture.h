#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "IntegrationFixture.h"

namespace tallowdesk::test {

// tallowdesk-cli in-process against the local service: a Config.xml of the
// test's own that points at it, and one call per command with its output kept.
class CliTest : public IntegrationTest {
protected:
    void SetUp() override {
        IntegrationTest::SetUp();
        const std::filesystem::path config = m_dir / "config";
        std::filesystem::create_directories(config / "Tallowdesk");
        std::ofstream(config / "Tallowdesk" / "Config.xml")
            << "<configure><user><email/><password/></user>"
               "<fileautoconvert>false</fileautoconvert><autoupdatecheck>true</autoupdatecheck>"
               "<docshost>"
            << Host() << "</docshost><accountshost>" << Host() << "</accountshost><cafile>"
            << m_server->CertPath() << "</cafile></configure>";
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
        IntegrationTest::TearDown();
    }

    // Runs one command; answers every prompt with the given password.
    int Run(std::vector<std::string> args, std::string answer = kPassword) {
        m_out.str({});
        m_err.str({});
        cli::CliIo io{m_out, m_err,
                      [answer](const std::string&, bool) { return std::optional(answer); },
                      m_errIsTerminal};
        return cli::RunCli(args, io);
    }

    bool m_errIsTerminal = false;  // stderr taken for a terminal: the progress line is drawn
    std::ostringstream m_out, m_err;
};

}  // namespace tallowdesk::test

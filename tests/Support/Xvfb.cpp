#include "tests/Support/Xvfb.h"

#include "tests/Support/ReportingProcess.h"

namespace ferlow::test {

Xvfb::Xvfb(const std::string& screen)
    : m_server(std::make_unique<ReportingProcess>(std::vector<std::string> {"Xvfb", "-displayfd", "{fd}", "-screen",
        "0", screen, "-nolisten", "tcp", "-noreset", "+extension", "RANDR", "+extension", "XTEST", "-ac"}))
{
    // The display number comes once Xvfb accepts clients.
    if (m_server->line().empty())
        m_reason = m_server->problem();
    else
        m_display = ":" + m_server->line();
}

Xvfb::~Xvfb() = default;

} // namespace ferlow::test

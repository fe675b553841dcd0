#include "tests/Support/Xvfb.h"

namespace ferlow::test {

Xvfb::Xvfb(const std::string& screen)
    : m_server({"Xvfb", "-displayfd", "{fd}", "-screen", "0", screen, "-nolisten", "tcp", "-noreset", "+extension",
                   "RANDR", "+extension", "XTEST", "-ac"},
          10)
{
    if (!m_server.line().empty())
        m_display = ":" + m_server.line();
}

} // namespace ferlow::test

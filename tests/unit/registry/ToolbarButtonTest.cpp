// The toolbar button's entry.
#include <gtest/gtest.h>

#include "registry/Registry.h"
#include "registry/ToolbarButton.h"
#include "registry/store/HiveRegistry.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

TEST(ToolbarButton, PointsAtTheRunningProgramAndItsIcons) {
    MemoryStore reg;
    reg.RegCloseKey(test::Create(reg, ToolbarButtonKey()));
    WriteRegistryValue(reg, HKEY_CURRENT_USER, ToolbarButtonKey(), "ButtonText", std::string("Moatgate"), REG_SZ);
#ifdef _WIN32
    const ProgramLocation where{"C:\\Program Files\\Moatgate", "Moatgate", "C:\\Program Files\\Moatgate\\Moatgate.exe"};
    const std::string exec = "C:\\Program Files\\Moatgate\\Moatgate.exe", sep = "\\";
#else
    const ProgramLocation where{"/opt/moat gate", "moatgate", "/opt/moat gate/moatgate"};
    const std::string exec = "/opt/moat gate/moatgate", sep = "/";
#endif
    RegisterToolbarButton(reg, where);
    auto read = [&](const char* name) { return ReadRegistryValueText(reg, HKEY_CURRENT_USER, ToolbarButtonKey(), name); };
    EXPECT_EQ(read("Exec"), exec);
    EXPECT_EQ(read("Icon"), where.folder + sep + "ZavavId.ico");
    EXPECT_EQ(read("HotIcon"), where.folder + sep + "TrustHot.ico");
    EXPECT_EQ(read("ButtonText"), "Moatgate");

    // Moved: the next start brings the entry up to date.
    const ProgramLocation moved{"/usr/lib/moatgate", "moatgate", "/usr/lib/moatgate/moatgate"};
    RegisterToolbarButton(reg, moved);
    EXPECT_EQ(read("Icon"), moved.folder + sep + "ZavavId.ico");
}

// (Without its key nothing is written: the start-up test.)

}  // namespace
}  // namespace moatgate

// Which recording-level control "Set Volume" starts.
#include "Launcher.h"

#include "FormsTestSupport.h"

#include <gtest/gtest.h>
#include <ostream>

using namespace corvane;
using corvane::test::RecordingLauncher;

namespace {

struct Pick
{
    const char* name;
    QStringList installed;
    std::optional<CommandLine> expected;

    friend void PrintTo(const Pick& c, std::ostream* os) { *os << c.name; }
};

using RecordingLevelControl = ::testing::TestWithParam<Pick>;

// Started once, detached; a failed start is not retried with the next candidate.
TEST_P(RecordingLevelControl, FirstInstalledOneIsStartedOnce)
{
    for (bool succeeds : {true, false}) {
        RecordingLauncher launcher;
        launcher.installed = GetParam().installed;
        launcher.startSucceeds = succeeds;
        launchRecordingLevelControl(launcher, {});
        EXPECT_EQ(launcher.started, GetParam().expected ? std::vector{*GetParam().expected}
                                                        : std::vector<CommandLine>{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, RecordingLevelControl,
    ::testing::Values(
        Pick{"Pavucontrol",
             {"pavucontrol", "pwvucontrol", "gnome-control-center"},
             CommandLine{"/usr/bin/pavucontrol", {"--tab=4"}}},
        Pick{"Pwvucontrol",
             {"pwvucontrol", "gnome-control-center"},
             CommandLine{"/usr/bin/pwvucontrol", {}}},
        Pick{"Gnome",
             {"gnome-control-center"},
             CommandLine{"/usr/bin/gnome-control-center", {"sound"}}},
        Pick{"Kde", {"systemsettings"}, CommandLine{"/usr/bin/systemsettings", {"kcm_pulseaudio"}}},
        Pick{"Mate",
             {"mate-volume-control"},
             CommandLine{"/usr/bin/mate-volume-control", {"--page=input"}}},
        Pick{"Nothing", {}, std::nullopt}, Pick{"OnlySndvol32", {"SNDVOL32"}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

// Which recording-level control "Set Volume" starts, and the help page's command line.
#include "Launcher.h"

#include "FormsTestSupport.h"

#include <gtest/gtest.h>

using namespace corvane;
using corvane::test::RecordingLauncher;

namespace {

struct Pick
{
    QStringList installed;
    std::optional<CommandLine> expected;
};

class RecordingLevelControl : public ::testing::TestWithParam<Pick>
{
};

TEST_P(RecordingLevelControl, FirstInstalledOneIsStartedOnce)
{
    RecordingLauncher launcher;
    launcher.installed = GetParam().installed;
    launchRecordingLevelControl(launcher);
    if (!GetParam().expected) {
        EXPECT_TRUE(launcher.started.empty());
        return;
    }
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0], *GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, RecordingLevelControl,
    ::testing::Values(
        Pick{{"pavucontrol", "pwvucontrol", "gnome-control-center"},
             CommandLine{"/usr/bin/pavucontrol", {"--tab=4"}}},
        Pick{{"pwvucontrol", "gnome-control-center"}, CommandLine{"/usr/bin/pwvucontrol", {}}},
        Pick{{"gnome-control-center"}, CommandLine{"/usr/bin/gnome-control-center", {"sound"}}},
        Pick{{"systemsettings"}, CommandLine{"/usr/bin/systemsettings", {"kcm_pulseaudio"}}},
        Pick{{"mate-volume-control"},
             CommandLine{"/usr/bin/mate-volume-control", {"--page=input"}}},
        Pick{{}, std::nullopt}, Pick{{"SNDVOL32"}, std::nullopt}));

TEST(RecordingLevelControl, AFailedStartIsIgnored)
{
    RecordingLauncher launcher;
    launcher.installed = {"pavucontrol"};
    launcher.startSucceeds = false;
    launchRecordingLevelControl(launcher);
    EXPECT_EQ(launcher.started.size(), 1u); // tried once, no retry with the next candidate
}

TEST(HelpPage, OpensTheFileBesideTheProgramWithTheDesktopOpener)
{
    RecordingLauncher launcher;
    openHelpPage(launcher, QStringLiteral("/opt/corvane/bin/"));
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0], (CommandLine{"xdg-open", {"/opt/corvane/bin/help/help.htm"}}));
}

} // namespace

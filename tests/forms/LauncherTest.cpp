// Which recording-level control "Set Volume" starts: the first one installed, once, detached;
// a failed start is not retried with the next candidate.
#include "Launcher.h"

#include "FormsTestSupport.h"

#include <gtest/gtest.h>

using namespace corvane;
using corvane::test::RecordingLauncher;

TEST(RecordingLevelControl, FirstInstalledOneIsStartedOnce)
{
    const std::pair<QStringList, std::optional<CommandLine>> picks[] = {
        {{"pavucontrol", "pwvucontrol", "gnome-control-center"},
         CommandLine{"/usr/bin/pavucontrol", {"--tab=4"}}},
        {{"pwvucontrol", "gnome-control-center"}, CommandLine{"/usr/bin/pwvucontrol", {}}},
        {{"gnome-control-center"}, CommandLine{"/usr/bin/gnome-control-center", {"sound"}}},
        {{"systemsettings"}, CommandLine{"/usr/bin/systemsettings", {"kcm_pulseaudio"}}},
        {{"mate-volume-control"}, CommandLine{"/usr/bin/mate-volume-control", {"--page=input"}}},
        {{"SNDVOL32"}, std::nullopt}};
    for (const auto& [installed, expected] : picks) {
        for (bool succeeds : {true, false}) {
            RecordingLauncher launcher;
            launcher.installed = installed;
            launcher.startSucceeds = succeeds;
            launchRecordingLevelControl(launcher, {});
            EXPECT_EQ(launcher.started,
                      expected ? std::vector{*expected} : std::vector<CommandLine>{})
                << installed.join(' ').toStdString();
        }
    }
}

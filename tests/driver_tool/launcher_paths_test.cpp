#include "tools/launcher/launcher_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace zelk {
namespace {

TEST(InstallerLaunchFor, InstallerBesideLauncherWithItsFolderAsCurrentDirectory) {
    auto launch = InstallerLaunchFor("C:\\Program Files\\Panel\\BrevickLauncher.exe");
    ASSERT_TRUE(launch);
    EXPECT_EQ(launch->folder, "C:\\Program Files\\Panel");
    EXPECT_EQ(launch->application, "C:\\Program Files\\Panel\\Brevick.exe");

    // At a drive's root the folder keeps its backslash.
    launch = InstallerLaunchFor("E:\\BrevickLauncher.exe");
    ASSERT_TRUE(launch);
    EXPECT_EQ(launch->folder, "E:\\");
    EXPECT_EQ(launch->application, "E:\\Brevick.exe");
}

TEST(InstallerLaunchFor, PathsWithoutFolderOrTooLongAreRefused) {
    EXPECT_FALSE(InstallerLaunchFor(""));
    EXPECT_FALSE(InstallerLaunchFor("BrevickLauncher.exe"));
    EXPECT_FALSE(InstallerLaunchFor("\\BrevickLauncher.exe"));

    // The installer's path must fit 260 bytes with its NUL: "\Brevick.exe" is 12 characters.
    const std::string folder_fits = "C:\\" + std::string(244, 'f');
    ASSERT_EQ(folder_fits.size() + 12 + 1, 260u);
    auto launch = InstallerLaunchFor(folder_fits + "\\L.exe");
    ASSERT_TRUE(launch);
    EXPECT_EQ(launch->application.size(), 259u);
    EXPECT_FALSE(InstallerLaunchFor(folder_fits + "f\\L.exe"));
    EXPECT_FALSE(InstallerLaunchFor("C:\\" + std::string(400, 'f') + "\\L.exe"));
}

}  // namespace
}  // namespace zelk

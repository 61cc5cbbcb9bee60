#include "platform/Files.h"
#include "platform/Mounts.h"
#include "tests/PrivateMounts.h"

#include <gtest/gtest.h>

namespace tarvok::platform {
namespace {

using MountsKernelTest = testing_support::PrivateMountsTest;

// The kernel's own table, with a blank in a mount point, a bind mount of a directory of the
// share, and the share moved: a stored network path follows the share and names nothing while
// it is not mounted.
TEST_F(MountsKernelTest, NetworkPathsFollowTheShareWhereverItIsMounted) {
    const std::string first = Path("first place");
    MountShare("//fs1/sales", first);
    std::filesystem::create_directories(first + "/tools");
    Write(first + "/tools/job", "#!/bin/sh\n");
    Bind(first + "/tools", Path("bound"));

    EXPECT_EQ(NetworkForm(first + "/tools/job"), "//fs1/sales/tools/job");
    EXPECT_EQ(NetworkForm(Path("bound") + "/job"), "//fs1/sales/tools/job");
    EXPECT_EQ(NetworkForm(Path("elsewhere")), Path("elsewhere"));
    EXPECT_EQ(LocalPath("//fs1/sales"), first);
    const auto job = LocalPath("//FS1/sales/tools/job");
    ASSERT_TRUE(job.has_value());
    EXPECT_EQ(*job, Path("bound") + "/job") << "the mount nearest the file";
    EXPECT_TRUE(FileExists(*job));

    Unmount(Path("bound"));
    Unmount(first);
    EXPECT_EQ(LocalPath("//fs1/sales/tools/job"), std::nullopt);

    MountShare("//fs1/sales", Path("second"));
    EXPECT_EQ(LocalPath("//fs1/sales/tools/job"), Path("second") + "/tools/job");
    const std::vector<TMount> table = MountTable();
    const auto mount = MountOf(Path("second") + "/x", table);
    ASSERT_TRUE(mount.has_value());
    EXPECT_EQ(mount->FsType, "tmpfs");
    EXPECT_EQ(NetworkRoot(*mount, table), "//fs1/sales");
}

} // namespace
} // namespace tarvok::platform

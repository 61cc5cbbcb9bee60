#include "platform/Mounts.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tarvok::platform {
namespace {

// A recorded table: the root, SMB shares mounted whole, by a directory and bound in part, NFS
// with a name and with an IPv6 address, an indirect and a direct automount, a local bind mount,
// blanks in a mount point and a share name, a share hidden by a later mount, sshfs, and lines
// the kernel never writes.
constexpr std::string_view Recorded =
    "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "50 27 0:40 / /mnt/sales rw,relatime shared:30 - cifs //fs1/sales rw,vers=3.1.1\n"
    "51 27 0:40 /projects /mnt/projects rw,relatime - cifs //fs1/sales/projects rw\n"
    "52 27 0:40 /archive/2024 /srv/archive rw,relatime - cifs //fs1/sales rw\n"
    "60 27 0:50 / /home/net rw,relatime shared:40 master:3 - nfs4 fs2:/export/home rw\n"
    "61 27 0:51 / /mnt/v6 rw - nfs [fd00::2]:/data rw\n"
    "70 27 0:60 / /misc rw,relatime - autofs /etc/auto.misc rw,fd=7\n"
    "71 70 0:61 / /misc/backup rw,relatime - nfs fs3:/backup rw\n"
    "72 27 0:62 / /data rw - autofs systemd-1 rw\n"
    "73 72 0:63 / /data rw - nfs fs4:/data rw\n"
    "80 27 254:0 /srv/local /opt/bound rw - ext4 /dev/vda rw\n"
    "81 27 0:70 / /mnt/my\\040share rw - cifs //fs5/team\\040docs rw\n"
    "82 27 0:71 / /mnt/over rw - cifs //old/share rw\n"
    "83 27 254:1 / /mnt/over rw - ext4 /dev/vdb rw\n"
    "84 27 0:72 / /mnt/ssh rw - fuse.sshfs ann@fs6:/home/ann rw\n"
    "not a mount line\n"
    "85 27 0:73 / /broken rw\n"
    "x 27 0:74 / /bad-id rw - ext4 /dev/vdc rw\n";

const std::vector<TMount>& Table() {
    static const std::vector<TMount> table = ParseMountTable(Recorded);
    return table;
}

TEST(Mounts, ParsesEveryWellFormedLineAndDecodesEscapes) {
    ASSERT_EQ(Table().size(), 16u);
    EXPECT_EQ(Table()[2], (TMount{50, 27, "/", "/mnt/sales", "cifs", "//fs1/sales"}));
    EXPECT_EQ(Table()[4], (TMount{52, 27, "/archive/2024", "/srv/archive", "cifs", "//fs1/sales"}));
    EXPECT_EQ(Table()[5].Source, "fs2:/export/home") << "two optional fields before the -";
    EXPECT_EQ(Table()[12].MountPoint, "/mnt/my share");
    EXPECT_EQ(Table()[12].Source, "//fs5/team docs");
    EXPECT_EQ(Table().back().FsType, "fuse.sshfs");
}

TEST(Mounts, NetworkForm) {
    struct Row {
        std::string_view path;
        std::string expected;
    };
    const Row rows[] = {
        {"/usr/bin/backup", "/usr/bin/backup"},
        {"/mnt/sales/tools/run.sh", "//fs1/sales/tools/run.sh"},
        {"/mnt/sales", "//fs1/sales"},
        {"/mnt/sales/", "//fs1/sales"},
        {"/mnt/salesman/x", "/mnt/salesman/x"},
        {"/mnt/projects/q1", "//fs1/sales/projects/q1"},
        {"/srv/archive/jan", "//fs1/sales/archive/2024/jan"},
        {"/home/net/ann/../bob/./x", "fs2:/export/home/bob/x"},
        {"/mnt/v6/a", "[fd00::2]:/data/a"},
        {"/misc/backup/x", "/misc/backup/x"},
        {"/data/x", "/data/x"},
        {"/opt/bound/f", "/opt/bound/f"},
        {"/mnt/my share/a b", "//fs5/team docs/a b"},
        {"/mnt/over/f", "/mnt/over/f"},
        {"/mnt/ssh/notes", "ann@fs6:/home/ann/notes"},
        {"//fs1/Sales//x/", "//fs1/Sales/x"},
        {"fs2:/export/home/", "fs2:/export/home"},
        {"/", "/"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(NetworkForm(row.path, Table()), row.expected) << row.path;
    }
    EXPECT_EQ(NetworkForm("rel/x", {}),
              (std::filesystem::current_path() / "rel/x").lexically_normal().string());
}

TEST(Mounts, LocalPathResolvesToTheShareMountedNow) {
    struct Row {
        std::string_view path;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {"/usr/bin/backup", "/usr/bin/backup"},
        {"relative/x", "relative/x"},
        {"//fs1/sales/tools/run.sh", "/mnt/sales/tools/run.sh"},
        {"//FS1/Sales/tools/Run.sh", "/mnt/sales/tools/Run.sh"},
        {"//fs1/sales", "/mnt/sales"},
        {"//fs1/sales/projects/q1", "/mnt/projects/q1"},
        {"//fs1/sales/archive/2024/jan", "/srv/archive/jan"},
        {"fs2:/export/home/bob", "/home/net/bob"},
        {"FS2:/export/home", "/home/net"},
        {"fs2:/export/Home/bob", std::nullopt},
        {"fs3:/backup/x", "/misc/backup/x"},
        {"//fs5/team docs/a b", "/mnt/my share/a b"},
        {"[fd00::2]:/data/a", "/mnt/v6/a"},
        {"ann@fs6:/home/ann/notes", "/mnt/ssh/notes"},
        {"//old/share/f", std::nullopt},
        {"//fs9/none/x", std::nullopt},
        {"//fs1/salesman/x", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(LocalPath(row.path, Table()), row.expected) << row.path;
    }
    EXPECT_EQ(LocalPath("//fs1/sales/x", {}), std::nullopt);
}

TEST(Mounts, EveryNetworkFormLeadsBackToItsPath) {
    for (const std::string path : {"/mnt/sales/a", "/mnt/projects/b", "/srv/archive/c",
                                   "/home/net/d", "/mnt/v6/e", "/mnt/my share/f g", "/mnt/ssh/h"}) {
        const std::string network = NetworkForm(path, Table());
        ASSERT_TRUE(IsNetworkPath(network)) << path;
        EXPECT_EQ(LocalPath(network, Table()), path) << network;
    }
}

} // namespace
} // namespace tarvok::platform

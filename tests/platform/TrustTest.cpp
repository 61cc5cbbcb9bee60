// Who administers a directory, which files a privileged reader trusts, and what saving leaves
// behind. Rows that need other accounts' files run only as root.
#include "platform/Accounts.h"
#include "platform/Files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tarvok::platform {
namespace {

namespace fs = std::filesystem;
using TOutcome = TTrustedFile::TOutcome;

constexpr std::uint32_t Nobody = 65534;
// A group no test account belongs to.
constexpr std::uint32_t ForeignGroup = 54321;

bool IsRoot() {
    return ::geteuid() == 0;
}

struct TAccount {
    std::uint32_t Uid;
    std::uint32_t PrimaryGroup;
};

std::optional<TAccount> AccountNamed(const char* name) {
    const passwd* entry = ::getpwnam(name);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return TAccount{entry->pw_uid, entry->pw_gid};
}

// An account listed as a member of a group that is not its primary group, with that group.
std::optional<std::pair<TAccount, std::uint32_t>> SupplementaryMember() {
    ::setgrent();
    std::optional<std::pair<TAccount, std::uint32_t>> found;
    for (const group* entry = ::getgrent(); entry != nullptr && !found; entry = ::getgrent()) {
        for (char** member = entry->gr_mem; *member != nullptr && !found; ++member) {
            if (auto account = AccountNamed(*member);
                account && account->PrimaryGroup != entry->gr_gid) {
                found.emplace(*account, entry->gr_gid);
            }
        }
    }
    ::endgrent();
    return found;
}

TEST(IsAdministrator, RootOwnerAndGroupMembersOnly) {
    const auto daemon = AccountNamed("daemon");
    ASSERT_TRUE(daemon) << "no account \"daemon\" in the account database";
    struct TRow {
        const char* What;
        std::uint32_t Uid;
        TDirectoryOwners Directory;
        bool Expected;
    };
    std::vector<TRow> rows = {
        {"root", 0, {1234, ForeignGroup}, true},
        {"the owner, in no group of the directory", 1234, {1234, ForeignGroup}, true},
        {"a member by primary group", daemon->Uid, {0, daemon->PrimaryGroup}, true},
        {"a stranger", daemon->Uid, {0, ForeignGroup}, false},
        {"an account the database does not know", 3999999, {0, ForeignGroup}, false},
        {"nobody, in a directory of root's group", Nobody, {0, 0}, false},
    };
    if (auto member = SupplementaryMember()) {
        rows.push_back(
            {"a member listed in the group", member->first.Uid, {0, member->second}, true});
    }
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        EXPECT_EQ(IsAdministrator(row.Uid, row.Directory), row.Expected);
    }
}

TEST(IsAdministrator, LooksTheDirectoryUpAndTrustsOnlyRootWithoutIt) {
    const fs::path dir = fs::temp_directory_path() / ("tarvok-admin-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    EXPECT_TRUE(IsAdministrator(::getuid(), dir.string() + "/"));
    EXPECT_TRUE(IsAdministrator(0, dir.string()));
    if (::getuid() != Nobody && ::getgid() != Nobody) {
        EXPECT_FALSE(IsAdministrator(Nobody, dir.string()));
    }
    fs::remove(dir);
    EXPECT_TRUE(IsAdministrator(0, dir.string()));
    EXPECT_FALSE(IsAdministrator(::getuid() == 0 ? Nobody : ::getuid(), dir.string()));
}

class TrustTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarvok-trust-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::permissions(dir_, fs::perms(0755));
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    static void Write(const std::string& path, const std::string& content, mode_t mode = 0644) {
        std::ofstream(path, std::ios::binary) << content;
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    static struct stat Status(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        return info;
    }

    fs::path dir_;
};

// Each row prepares the program directory and the file "tarvok.tsk" in it, then reads it.
struct TTrustRow {
    const char* What;
    std::function<void(const std::string& dir, const std::string& file)> Prepare;
    TOutcome Expected;
    const char* Refusal = ""; // a part of the reason
};

void Chmod(const std::string& path, mode_t mode) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

void Chown(const std::string& path, std::uint32_t uid, std::uint32_t gid) {
    ASSERT_EQ(::lchown(path.c_str(), uid, gid), 0) << path;
}

void ResetDirectory(const std::string& dir) {
    fs::permissions(dir, fs::perms(0755));
    ::removexattr(dir.c_str(), "system.posix_acl_access");
    ::removexattr(dir.c_str(), "system.posix_acl_default");
}

// Rows may change the directory above the program directory too; it is reset for each.
void CheckRows(const std::string& dir, const std::vector<TTrustRow>& rows) {
    const std::string file = dir + "/tarvok.tsk";
    const std::string above = fs::path(dir).parent_path();
    const struct stat owners = [&] {
        struct stat info {};
        ::stat(above.c_str(), &info);
        return info;
    }();
    for (const TTrustRow& row : rows) {
        SCOPED_TRACE(row.What);
        fs::remove_all(dir);
        fs::create_directory(dir);
        fs::permissions(dir, fs::perms(0755));
        ResetDirectory(above);
        Chown(above, owners.st_uid, owners.st_gid);
        row.Prepare(dir, file);
        const TTrustedFile read = ReadTrustedFile(file);
        EXPECT_EQ(read.Outcome, row.Expected) << read.Refusal;
        EXPECT_NE(read.Refusal.find(row.Refusal), std::string::npos) << read.Refusal;
        if (row.Expected == TOutcome::Trusted) {
            EXPECT_EQ(read.Content, "records");
        } else {
            EXPECT_EQ(read.Content, "");
        }
    }
}

void WriteRecords(const std::string& file, mode_t mode = 0644) {
    std::ofstream(file, std::ios::binary) << "records";
    Chmod(file, mode);
}

TEST_F(TrustTest, ReadsOnlyFilesNoOneButTheAdministratorsCouldHaveWritten) {
    const std::string elsewhere = Path("elsewhere");
    const std::string dir = Path("program");
    WriteRecords(elsewhere);
    CheckRows(
        dir,
        {
            {"a plain file", [](auto&, auto& file) { WriteRecords(file); }, TOutcome::Trusted},
            {"writable by its directory's group",
             [](auto&, auto& file) { WriteRecords(file, 0664); }, TOutcome::Trusted},
            {"nothing there", [](auto&, auto&) {}, TOutcome::Missing},
            {"writable by others", [](auto&, auto& file) { WriteRecords(file, 0666); },
             TOutcome::Refused, "writable by others"},
            {"in a directory writable by others",
             [](auto& d, auto& file) {
                 WriteRecords(file);
                 Chmod(d, 0777);
             },
             TOutcome::Refused, "directory is writable by others"},
            {"in a sticky directory writable by others",
             [](auto& d, auto& file) {
                 WriteRecords(file);
                 Chmod(d, 01777);
             },
             TOutcome::Refused, "directory is writable by others"},
            {"a link to a good file",
             [&](auto&, auto& file) { fs::create_symlink(elsewhere, file); }, TOutcome::Refused,
             "symbolic link"},
            {"a dangling link", [](auto&, auto& file) { fs::create_symlink("/nonexistent", file); },
             TOutcome::Refused, "symbolic link"},
            {"a second link to its content",
             [](auto& d, auto& file) {
                 WriteRecords(file);
                 fs::create_hard_link(file, d + "/copy");
             },
             TOutcome::Refused, "more than one link"},
            {"a pipe nobody writes to",
             [](auto&, auto& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0); },
             TOutcome::Refused, "not a regular file"},
            {"a directory", [](auto&, auto& file) { fs::create_directory(file); },
             TOutcome::Refused, "not a regular file"},
        });
}

TEST_F(TrustTest, OwnersAndGroupsOfOtherAccounts) {
    if (!IsRoot()) {
        GTEST_SKIP() << "files of other accounts can be made by root only";
    }
    const auto daemon = AccountNamed("daemon");
    ASSERT_TRUE(daemon);
    CheckRows(Path("program"), {
                                   {"owned by a stranger",
                                    [](auto&, auto& file) {
                                        WriteRecords(file);
                                        Chown(file, Nobody, Nobody);
                                    },
                                    TOutcome::Refused, "owned by uid 65534"},
                                   {"owned by the directory's owner",
                                    [](auto& d, auto& file) {
                                        WriteRecords(file);
                                        Chown(d, Nobody, 0);
                                        Chown(file, Nobody, Nobody);
                                    },
                                    TOutcome::Trusted},
                                   {"owned by a member of the directory's group",
                                    [&](auto& d, auto& file) {
                                        WriteRecords(file, 0664);
                                        Chown(d, 0, daemon->PrimaryGroup);
                                        Chown(file, daemon->Uid, daemon->PrimaryGroup);
                                    },
                                    TOutcome::Trusted},
                                   {"writable by a group that is not the directory's",
                                    [](auto&, auto& file) {
                                        WriteRecords(file, 0664);
                                        Chown(file, 0, ForeignGroup);
                                    },
                                    TOutcome::Refused, "group 54321"},
                                   {"a link planted by a stranger",
                                    [](auto&, auto& file) {
                                        fs::create_symlink("/etc/passwd", file);
                                        Chown(file, Nobody, Nobody);
                                    },
                                    TOutcome::Refused, "symbolic link"},
                               });
}

// Grants write to one more account or group through an ACL (the xattr as the kernel keeps it).
// False where the file system keeps no ACLs.
bool GrantWrite(const std::string& path, const char* which, std::uint16_t tag, std::uint32_t id) {
    constexpr std::uint32_t NoId = ~0u;
    // In the kernel's order: by tag.
    std::vector<std::pair<std::uint16_t, std::uint32_t>> entries = {
        {0x01, NoId}, {tag, id}, {0x04, NoId}, {0x10, NoId}, {0x20, NoId}};
    std::sort(entries.begin(), entries.end());
    std::vector<unsigned char> acl = {2, 0, 0, 0};
    for (const auto& [entryTag, entryId] : entries) {
        const std::uint16_t permissions = entryTag == tag ? 6 : entryTag == 0x20 ? 5 : 7;
        for (std::uint32_t value : {std::uint32_t{entryTag}, std::uint32_t{permissions}}) {
            acl.insert(acl.end(),
                       {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)});
        }
        for (int shift = 0; shift < 32; shift += 8) {
            acl.push_back(static_cast<unsigned char>(entryId >> shift));
        }
    }
    return ::setxattr(path.c_str(), which, acl.data(), acl.size(), 0) == 0;
}

constexpr std::uint16_t AclUser = 0x02;
constexpr std::uint16_t AclGroup = 0x08;
const char* const AccessAcl = "system.posix_acl_access";
const char* const DefaultAcl = "system.posix_acl_default";

TEST_F(TrustTest, AclsAndTheDirectoriesAboveCountToo) {
    if (!GrantWrite(dir_.string(), AccessAcl, AclUser, Nobody)) {
        GTEST_SKIP() << "this file system keeps no ACLs";
    }
    const std::uint32_t group = Status(dir_.string()).st_gid;
    std::vector<TTrustRow> rows = {
        {"an ACL lets a stranger write the file",
         [](auto&, auto& file) {
             WriteRecords(file);
             ASSERT_TRUE(GrantWrite(file, AccessAcl, AclUser, Nobody));
         },
         TOutcome::Refused, "it is writable by uid 65534 through an ACL"},
        {"an ACL lets the directory's group write the file",
         [&](auto&, auto& file) {
             WriteRecords(file);
             ASSERT_TRUE(GrantWrite(file, AccessAcl, AclGroup, group));
         },
         TOutcome::Trusted},
        {"a default ACL passes write on to a stranger",
         [](auto& d, auto& file) {
             WriteRecords(file);
             ASSERT_TRUE(GrantWrite(d, DefaultAcl, AclUser, Nobody));
         },
         TOutcome::Refused, "its directory passes write access on to uid 65534 through a default"},
        {"a directory above writable by others",
         [](auto& d, auto& file) {
             WriteRecords(file);
             Chmod(d + "/..", 0777);
         },
         TOutcome::Refused, "above it is writable by others"},
        {"an ACL lets a stranger write a directory above",
         [](auto& d, auto& file) {
             WriteRecords(file);
             ASSERT_TRUE(GrantWrite(d + "/..", AccessAcl, AclGroup, ForeignGroup));
         },
         TOutcome::Refused, "above it is writable by group 54321 through an ACL"},
    };
    if (IsRoot()) {
        rows.push_back({"a directory above owned by a stranger",
                        [](auto& d, auto& file) {
                            WriteRecords(file);
                            Chown(d + "/..", Nobody, Nobody);
                        },
                        TOutcome::Refused, "is owned by uid 65534, who is not an administrator"});
        rows.push_back({"a directory above that is root's and sticky, as /tmp is",
                        [](auto& d, auto& file) {
                            WriteRecords(file);
                            Chown(d + "/..", 0, ForeignGroup);
                            Chmod(d + "/..", 01777);
                        },
                        TOutcome::Trusted});
    }
    CheckRows(Path("program"), rows);
}

// Who may write a directory above may rename the program directory away and put another there.
TEST_F(TrustTest, AnotherDirectoryInTheAnchoredOnesPlaceIsNotTrusted) {
    const std::string dir = Path("program");
    fs::create_directory(dir);
    WriteRecords(dir + "/tarvok.tsk");
    const TDirectoryAnchor anchor = AnchorDirectory(dir);
    EXPECT_EQ(ReadTrustedFile(dir + "/tarvok.tsk", anchor).Outcome, TOutcome::Trusted);
    fs::rename(dir, Path("moved"));
    fs::create_directory(dir);
    WriteRecords(dir + "/tarvok.tsk");
    const TTrustedFile read = ReadTrustedFile(dir + "/tarvok.tsk", anchor);
    EXPECT_EQ(read.Outcome, TOutcome::Refused);
    EXPECT_EQ(read.Refusal, "its directory has been replaced by another");
    EXPECT_EQ(ReadTrustedFile(dir + "/tarvok.tsk").Outcome, TOutcome::Trusted);
}

TEST_F(TrustTest, ReadingNeverFollowsALink) {
    const std::string secret = Path("secret");
    Write(secret, "secret", 0600);
    fs::create_symlink(secret, Path("tarvok.log"));
    EXPECT_THROW(ReadFile(Path("tarvok.log")), TIoError);
    EXPECT_EQ(ReadFile(secret), "secret");
}

TEST_F(TrustTest, SavingReplacesAPlantedLinkInsteadOfWritingThroughIt) {
    const std::string victim = Path("victim");
    Write(victim, "untouched", 0666);
    const std::string target = Path("tarvok.tsk");
    fs::create_symlink(victim, target);
    ReplaceFile(target, "records");
    EXPECT_EQ(ReadFile(victim), "untouched");
    EXPECT_TRUE(S_ISREG(Status(target).st_mode));
    EXPECT_EQ(ReadFile(target), "records");
}

TEST_F(TrustTest, SavedFilesAreSharedWithTheDirectoryGroupOnly) {
    if (!IsRoot()) {
        GTEST_SKIP() << "a directory of another group can be made by root only";
    }
    // Root hands every file to the directory's group.
    Chown(dir_.string(), 0, ForeignGroup);
    ReplaceFile(Path("by-root"), "x");
    EXPECT_EQ(Status(Path("by-root")).st_mode & 07777, 0664u);
    EXPECT_EQ(Status(Path("by-root")).st_gid, ForeignGroup);

    // A writer outside that group keeps its own group, which must not get write access.
    Chown(dir_.string(), Nobody, ForeignGroup);
    Chmod(dir_.string(), 0775);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) {
            ::_exit(2);
        }
        try {
            ReplaceFile(Path("by-owner"), "x");
        } catch (const TIoError&) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const struct stat saved = Status(Path("by-owner"));
    EXPECT_EQ(saved.st_gid, Nobody);
    EXPECT_EQ(saved.st_mode & 07777, 0644u);
}

} // namespace
} // namespace tarvok::platform

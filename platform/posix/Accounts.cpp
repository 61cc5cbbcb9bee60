#include "platform/Accounts.h"

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvok::platform {

namespace {

// Account records are short; the bound only stops a broken database from growing the buffer
// without end.
constexpr std::size_t MaxRecordBuffer = 1 << 20;
constexpr int GroupListAttempts = 4;

bool InGroupList(uid_t uid, gid_t group) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    int error = 0;
    while ((error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < MaxRecordBuffer) {
        buffer.resize(buffer.size() * 2);
    }
    // An account the database does not know has no groups to be a member by.
    if (error != 0 || found == nullptr) {
        return false;
    }
    if (entry.pw_gid == group) {
        return true;
    }
    std::vector<gid_t> groups(64);
    for (int attempt = 0; attempt < GroupListAttempts; ++attempt) {
        int count = static_cast<int>(groups.size());
        if (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) >= 0) {
            groups.resize(static_cast<std::size_t>(count));
            return std::find(groups.begin(), groups.end(), group) != groups.end();
        }
        // The call answers how many it needs; ask for a little more in case the list grows.
        groups.resize(static_cast<std::size_t>(count) + 16);
    }
    return false;
}

} // namespace

bool IsAdministrator(std::uint32_t uid, const TDirectoryOwners& directory) {
    return uid == 0 || uid == directory.Owner || InGroupList(uid, directory.Group);
}

bool IsAdministrator(std::uint32_t uid, const std::string& directory) {
    if (uid == 0) {
        return true;
    }
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        return false;
    }
    return IsAdministrator(uid, TDirectoryOwners{info.st_uid, info.st_gid});
}

} // namespace tarvok::platform

namespace tarvok::platform {

std::uint32_t CurrentUserId() {
    return ::getuid();
}

std::string DirectoryGroupName(const std::string& directory) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        return {};
    }
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    int error = 0;
    while ((error = ::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found)) ==
               ERANGE &&
           buffer.size() < MaxRecordBuffer) {
        buffer.resize(buffer.size() * 2);
    }
    if (error != 0 || found == nullptr) {
        return std::to_string(info.st_gid);
    }
    return entry.gr_name;
}

} // namespace tarvok::platform

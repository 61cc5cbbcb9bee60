// Who administers a directory: the accounts that may control what runs from it.
//
// Root, the directory's owner and the members of its group are its administrators. Membership
// is the account's group list in the account database (its primary group and the groups that
// name it), not the groups some process of it happens to hold, so a sender cannot claim a group
// by changing its own.
//
//     if (!IsAdministrator(sender.Uid, "/opt/tarvok/")) ... // drop the message
#pragma once

#include <cstdint>
#include <string>

namespace tarvok::platform {

// The directory's owner and group, as IsAdministrator weighs them.
struct TDirectoryOwners {
    std::uint32_t Owner = 0;
    std::uint32_t Group = 0;
};

bool IsAdministrator(std::uint32_t uid, const TDirectoryOwners& directory);

// Looks the directory up at every call, so a change of its owner or group counts at once. When
// it cannot be looked up, only root administers it.
bool IsAdministrator(std::uint32_t uid, const std::string& directory);

} // namespace tarvok::platform

namespace tarvok::platform {

// The account the program runs as.
std::uint32_t CurrentUserId();

// The name of the directory's group, for telling a user which group to join; its number when the
// account database has no name for it, empty when the directory cannot be looked up.
std::string DirectoryGroupName(const std::string& directory);

} // namespace tarvok::platform

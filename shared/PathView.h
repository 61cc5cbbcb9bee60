// The file system as the manager's editors and tarvokctl see it: the mounted file systems,
// network-form paths and whether a directory can be listed. They ask it instead of the system,
// so tests can give them a recorded mount table.
//
//   TPathView& paths = SystemPathView();
//   paths.NetworkForm("/mnt/sales/run.sh");   // "//fs1/sales/run.sh" with //fs1/sales there
#pragma once

#include "platform/Mounts.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvok {

class TPathView {
public:
    virtual ~TPathView() = default;

    // The live mount table; empty when it cannot be read.
    virtual std::vector<platform::TMount> Mounts() const;
    virtual bool CanList(const std::string& directory) const;

    std::string NetworkForm(const std::string& path) const;
    // Nothing for a network path whose share is not mounted.
    std::optional<std::string> LocalPath(const std::string& path) const;
    // Network-form paths resolved first.
    bool DirectoryExists(const std::string& path) const;
    bool IsExecutableFile(const std::string& path) const;
};

TPathView& SystemPathView();

} // namespace tarvok

#include "shared/PathView.h"

#include "platform/Files.h"

namespace tarvok {

std::vector<platform::TMount> TPathView::Mounts() const {
    try {
        return platform::MountTable();
    } catch (const platform::TIoError&) {
        return {};
    }
}

bool TPathView::CanList(const std::string& directory) const {
    return platform::CanListDirectory(directory);
}

std::string TPathView::NetworkForm(const std::string& path) const {
    return platform::NetworkForm(path, Mounts());
}

std::optional<std::string> TPathView::LocalPath(const std::string& path) const {
    if (!platform::IsNetworkPath(path)) {
        return path;
    }
    return platform::LocalPath(path, Mounts());
}

bool TPathView::DirectoryExists(const std::string& path) const {
    const auto local = LocalPath(path);
    return local && !local->empty() && platform::DirectoryExists(*local);
}

bool TPathView::IsExecutableFile(const std::string& path) const {
    const auto local = LocalPath(path);
    return local && platform::IsExecutableFile(*local);
}

TPathView& SystemPathView() {
    static TPathView view;
    return view;
}

} // namespace tarvok

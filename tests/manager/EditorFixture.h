// What the editor tests share: a file system with a recorded mount table over a test directory
// (the root, a share "//fs1/sales" mounted at <dir>/share, a disk at <dir>/locked that cannot be
// listed), prompts the test answers, and a clock held at 10 March 2026, 12:34.
#pragma once

#include "shared/Clock.h"
#include "shared/PathView.h"
#include "tests/TempDir.h"
#include "tests/manager/FakePrompts.h"

#include <QDialog>
#include <ostream>
#include <set>
#include <string>

// Failing comparisons of texts show the texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tarvok::testing_support {

class TRecordedPaths final : public TPathView {
public:
    std::string Table;
    std::set<std::string> Unlistable;

    std::vector<platform::TMount> Mounts() const override {
        return platform::ParseMountTable(Table);
    }
    bool CanList(const std::string& directory) const override {
        return Unlistable.count(directory) == 0 && TPathView::CanList(directory);
    }
};

inline const TDateTime EditorNow = EncodeDate(2026, 3, 10) + EncodeTime(12, 34);

class EditorTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        std::filesystem::create_directories(Path("share/tools"));
        std::filesystem::create_directories(Path("locked"));
        paths.Table = "1 0 254:0 / / rw - ext4 /dev/vda rw\n"
                      "40 1 0:40 / " +
                      Path("share") +
                      " rw - cifs //fs1/sales rw\n"
                      "41 1 254:16 / " +
                      Path("locked") + " rw - ext4 /dev/vdb rw\n";
        paths.Unlistable = {Path("locked")};
    }

    // A file with the given mode; its path.
    std::string MakeFile(const std::string& name, std::filesystem::perms mode) {
        Write(Path(name), "#!/bin/sh\n");
        std::filesystem::permissions(Path(name), mode);
        return Path(name);
    }

    TRecordedPaths paths;
    TFakePrompts prompts;
    TFixedClock clock{EditorNow};
};

} // namespace tarvok::testing_support

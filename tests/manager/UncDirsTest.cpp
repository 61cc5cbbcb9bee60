#include "manager/UncDirs.h"

#include "tests/manager/EditorFixture.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing_support::EditorTest;

class UncDirsTest : public EditorTest {
protected:
    QString Local(const std::string& name) const { return QString::fromStdString(Path(name)); }

    // Opens the chooser on a starting directory as the task editor does.
    std::unique_ptr<TDlgDirSelect> Open(const QString& start) {
        auto chooser = std::make_unique<TDlgDirSelect>(prompts, paths);
        chooser->Directory = start;
        chooser->FormShow();
        return chooser;
    }

    void Click(TDlgDirSelect& chooser, const std::string& directory) {
        auto* model = qobject_cast<QFileSystemModel*>(chooser.lbDir->model());
        chooser.lbDir->setCurrentIndex(model->index(QString::fromStdString(directory)));
    }
};

TEST_F(UncDirsTest, MissingStartOpensOnTheCurrentDirectoryAndCaseIsKept) {
    for (const QString& start : {QString(), QStringLiteral("/no/such/Dir")}) {
        auto chooser = Open(start);
        EXPECT_TRUE(chooser->rbMap->isChecked());
        EXPECT_EQ(chooser->edPath->text(), QDir::currentPath());
        EXPECT_EQ(chooser->windowTitle(), "Select a directory [" + QDir::currentPath() + "]");
    }
    std::filesystem::create_directories(Path("Mixed Case"));
    auto chooser = Open(Local("Mixed Case") + "/");
    auto* model = qobject_cast<QFileSystemModel*>(chooser->lbDir->model());
    EXPECT_EQ(model->filePath(chooser->lbDir->currentIndex()), Local("Mixed Case"));
    EXPECT_TRUE(chooser->lbDir->isExpanded(chooser->lbDir->currentIndex().parent()));
    EXPECT_EQ(chooser->windowTitle(), "Select a directory [" + Local("Mixed Case") + "]");
    chooser->btOkClick();
    EXPECT_EQ(chooser->Directory, Local("Mixed Case"));
    EXPECT_TRUE(chooser->Selected);
}

// A directory on the share shows its network name in network mode, and returning to the drives
// brings back the drive and directory that were current before.
TEST_F(UncDirsTest, NetworkModeShowsTheNetworkFormAndReturns) {
    auto chooser = Open(Local("share/tools"));
    const int shareDrive = chooser->DriveOf(Path("share"));
    EXPECT_EQ(chooser->cbDrive->currentIndex(), shareDrive);
    EXPECT_EQ(chooser->cbDrive->currentText(), Local("share") + " [//fs1/sales]");

    chooser->rbUNC->setChecked(true);
    EXPECT_TRUE(chooser->cbDrive->isHidden());
    EXPECT_FALSE(chooser->edPath->isHidden());
    EXPECT_EQ(chooser->edPath->text(), "//fs1/sales/tools");
    EXPECT_EQ(chooser->windowTitle(), "Select a directory [//fs1/sales/tools]");

    Click(*chooser, Path("share"));
    EXPECT_EQ(chooser->edPath->text(), "//fs1/sales");

    chooser->rbMap->setChecked(true);
    EXPECT_EQ(chooser->cbDrive->currentIndex(), shareDrive);
    EXPECT_EQ(chooser->ListDirectory(), Path("share/tools"));
    EXPECT_EQ(chooser->edPath->text(), Local("share/tools"));
}

TEST_F(UncDirsTest, TypedPathEnablesOkOnlyWhileItExists) {
    auto chooser = Open(QStringLiteral("//fs1/sales"));
    ASSERT_TRUE(chooser->rbUNC->isChecked());

    chooser->edPath->setText("//fs1/sales/nothing");
    EXPECT_FALSE(chooser->PathValid);
    EXPECT_FALSE(chooser->btOk->isEnabled());
    EXPECT_FALSE(chooser->edPathKeyDown(Qt::Key_Return)) << "Enter on a missing path is not used";

    chooser->edPath->setText("//FS1/sales/tools/");
    EXPECT_TRUE(chooser->btOk->isEnabled());
    EXPECT_TRUE(chooser->edPathKeyDown(Qt::Key_Return));
    EXPECT_EQ(chooser->ListDirectory(), Path("share/tools"));
    EXPECT_EQ(chooser->edPath->text(), "//fs1/sales/tools");

    // A click in the tree always names its directory, whatever was typed before.
    chooser->edPath->setText("//fs1/sales/nothing");
    Click(*chooser, Path("share"));
    EXPECT_EQ(chooser->edPath->text(), "//fs1/sales");
    EXPECT_TRUE(chooser->btOk->isEnabled());

    chooser->btOkClick();
    EXPECT_EQ(chooser->Directory, "//fs1/sales");
    EXPECT_TRUE(chooser->Selected);

    chooser = Open(QStringLiteral("//fs1/sales"));
    chooser->btCancelClick();
    EXPECT_EQ(chooser->Directory, "");
    EXPECT_FALSE(chooser->Selected);
}

TEST_F(UncDirsTest, DriveThatCannotBeListedIsRefused) {
    auto chooser = Open(Local("share/tools"));
    const int before = chooser->cbDrive->currentIndex();
    chooser->cbDrive->setCurrentIndex(chooser->DriveOf(Path("locked")));
    chooser->cbDriveChange(chooser->cbDrive->currentIndex());
    EXPECT_EQ(prompts.LastShown(), "This drive is not accessible!");
    EXPECT_EQ(chooser->cbDrive->currentIndex(), before);
    EXPECT_EQ(chooser->ListDirectory(), Path("share/tools"));

    chooser->cbDriveChange(chooser->DriveOf("/"));
    EXPECT_EQ(chooser->ListDirectory(), "/");
    EXPECT_EQ(prompts.Shown.size(), 1u);
}

TEST(DriveList, OffersFileSystemsThatHoldFilesByTheMountSeen) {
    const auto table = platform::ParseMountTable("1 0 254:0 / / rw - ext4 /dev/vda rw\n"
                                                 "2 1 0:21 / /proc rw - proc proc rw\n"
                                                 "3 1 0:40 / /mnt/sales rw - cifs //fs1/sales rw\n"
                                                 "4 1 0:50 / /mnt/over rw - nfs fs2:/old rw\n"
                                                 "5 1 254:16 / /mnt/over rw - ext4 /dev/vdb rw\n"
                                                 "6 1 0:60 / /net rw - autofs -hosts rw\n"
                                                 "7 6 0:61 / /net/fs3 rw - nfs fs3:/ rw\n");
    std::vector<std::pair<std::string, std::string>> drives;
    for (const TDrive& drive : DriveList(table)) {
        drives.emplace_back(drive.MountPoint, drive.Label.toStdString());
    }
    EXPECT_EQ(drives, (std::vector<std::pair<std::string, std::string>>{
                          {"/", "/"},
                          {"/mnt/over", "/mnt/over"},
                          {"/mnt/sales", "/mnt/sales [//fs1/sales]"},
                          {"/net/fs3", "/net/fs3"},
                      }));
}

} // namespace
} // namespace tarvok

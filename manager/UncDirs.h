// The directory chooser: a working directory picked in a tree of one mounted file system ("Use
// &Mapped drives") or typed as a path, a network-form one included ("Use &UNC names").
//
// The drive box lists the mounted file systems that hold files (the root, disks, network shares
// by their network names); the tree below it shows the directories of the chosen one. In network
// mode the path box takes the drive box's place and shows the network form of the directory.
// Paths keep their letter case.
//
//   TDlgDirSelect chooser(prompts, SystemPathView());
//   chooser.Directory = "/srv/jobs";                 // may be empty or missing
//   prompts.Run(chooser);
//   if (chooser.Selected) workDir = chooser.Directory;
#pragma once

#include "manager/FormDialog.h"
#include "platform/Mounts.h"

#include <string>
#include <vector>

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace tarvok {

class TPathView;
class TPrompts;

struct TDrive {
    std::string MountPoint;
    QString Label; // "/mnt/sales [//fs1/sales]" for a share, else the mount point
};

// The file systems the drive box offers, by mount point: the root, those on a device, and
// network shares; one per mount point, the one seen there.
std::vector<TDrive> DriveList(const std::vector<platform::TMount>& table);

class TDlgDirSelect final : public TFormDialog {
    Q_OBJECT
public:
    TDlgDirSelect(TPrompts& prompts, const TPathView& paths, QWidget* parent = nullptr);

    // In: the starting directory. Out: the chosen one after OK, empty after Cancel.
    QString Directory;
    bool Selected = false;
    // The path box names an existing directory.
    bool PathValid = true;

    void FormShow() override;
    void lbDirChange();
    void edPathChange();
    void edPathExit();
    // True when the key was used up: Enter on a valid path moves on to the tree.
    bool edPathKeyDown(int key);
    void rbSelClick();
    void cbDriveChange(int index);
    void btOkClick();
    void btCancelClick();
    void reject() override;

    // The tree's directory, a local path.
    const std::string& ListDirectory() const { return listDir_; }
    // False, changing nothing, when the directory cannot be listed.
    bool SetListDirectory(const std::string& directory);
    // The position in the drive box of the file system a local path is on.
    int DriveOf(const std::string& path) const;

    QTreeView* lbDir;
    QComboBox* cbDrive;
    QLineEdit* edPath;
    QRadioButton* rbMap;
    QRadioButton* rbUNC;
    QPushButton* btOk;
    QPushButton* btCancel;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void ShowDrive(int index);
    void UpdateCaption();

    TPrompts& prompts_;
    const TPathView& paths_;
    QFileSystemModel* model_;
    std::vector<TDrive> drives_;
    std::vector<platform::TMount> driveMounts_;
    std::string listDir_;
    bool networkMode_ = false;
    int savedDrive_ = 0;
    std::string savedDir_;
};

} // namespace tarvok

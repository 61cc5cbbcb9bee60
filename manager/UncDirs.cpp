#include "manager/UncDirs.h"

#include "manager/Prompts.h"
#include "shared/PathView.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

namespace tarvok {

namespace {

std::string Std(const QString& text) {
    return text.toStdString();
}

QString Shown(const std::string& text) {
    return QString::fromStdString(text);
}

bool HoldsFiles(const platform::TMount& mount, const std::vector<platform::TMount>& table) {
    return mount.MountPoint == "/" || mount.Source.starts_with("/dev/") ||
           platform::IsNetworkPath(mount.Source) || !platform::NetworkRoot(mount, table).empty();
}

// Shows the hourglass while a path is looked at: a network mount may answer slowly.
class TBusyCursor {
public:
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

} // namespace

std::vector<TDrive> DriveList(const std::vector<platform::TMount>& table) {
    // The last mount on a mount point is the one seen there.
    std::map<std::string, const platform::TMount*> seen;
    for (const platform::TMount& mount : table) {
        seen[mount.MountPoint] = &mount;
    }
    std::vector<TDrive> drives;
    for (const auto& [mountPoint, mount] : seen) {
        if (!HoldsFiles(*mount, table)) {
            continue;
        }
        const std::string network = platform::NetworkForm(mountPoint, table);
        drives.push_back(
            {mountPoint, network == mountPoint
                             ? Shown(mountPoint)
                             : QStringLiteral("%1 [%2]").arg(Shown(mountPoint), Shown(network))});
    }
    return drives;
}

TDlgDirSelect::TDlgDirSelect(TPrompts& prompts, const TPathView& paths, QWidget* parent)
    : TFormDialog(parent), prompts_(prompts), paths_(paths) {
    setObjectName(QStringLiteral("TDlgDirSelect"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    const std::vector<platform::TMount> table = paths_.Mounts();
    drives_ = DriveList(table);
    if (drives_.empty()) {
        drives_.push_back({"/", QStringLiteral("/")});
    }
    for (const TDrive& drive : drives_) {
        platform::TMount mount;
        mount.MountPoint = drive.MountPoint;
        driveMounts_.push_back(mount);
    }
    BuildControls();

    PathValid = true;
    Selected = false;
    if (!SetListDirectory(Std(QDir::currentPath()))) {
        SetListDirectory("/");
    }
    lbDirChange();
}

void TDlgDirSelect::BuildControls() {
    cbDrive = new QComboBox(this);
    for (const TDrive& drive : drives_) {
        cbDrive->addItem(drive.Label);
    }
    edPath = new QLineEdit(this);
    edPath->setToolTip(tr("Enter a full path (e.g. //servername/sharepath)"));
    edPath->setPlaceholderText(edPath->toolTip());
    edPath->hide();
    edPath->installEventFilter(this);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    lbDir = new QTreeView(this);
    lbDir->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) {
        lbDir->hideColumn(column);
    }
    lbDir->setHeaderHidden(true);
    lbDir->setMinimumSize(fontMetrics().averageCharWidth() * 40, fontMetrics().height() * 14);

    rbMap = new QRadioButton(tr("Use &Mapped drives"), this);
    rbUNC = new QRadioButton(tr("Use &UNC names"), this);
    rbMap->setChecked(true);

    auto* place = new QGridLayout;
    place->addWidget(cbDrive, 0, 0);
    place->addWidget(edPath, 0, 0);
    auto* modes = new QHBoxLayout;
    modes->addWidget(rbMap);
    modes->addWidget(rbUNC);
    modes->addStretch();
    QHBoxLayout* buttons = OkCancelRow(btOk, btCancel);
    auto* form = new QVBoxLayout(this);
    form->addLayout(place);
    form->addWidget(lbDir, 1);
    form->addLayout(modes);
    form->addLayout(buttons);

    connect(lbDir->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) {
                    listDir_ = Std(model_->filePath(current));
                    lbDirChange();
                }
            });
    // The directories come in the background: once they are there the current one is shown.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] {
        lbDir->scrollTo(lbDir->currentIndex(), QAbstractItemView::PositionAtCenter);
    });
    connect(cbDrive, &QComboBox::activated, this, &TDlgDirSelect::cbDriveChange);
    connect(edPath, &QLineEdit::textChanged, this, &TDlgDirSelect::edPathChange);
    for (QRadioButton* mode : {rbMap, rbUNC}) {
        connect(mode, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked) {
                rbSelClick();
            }
        });
    }
    connect(btOk, &QPushButton::clicked, this, &TDlgDirSelect::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TDlgDirSelect::btCancelClick);
}

bool TDlgDirSelect::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edPath) {
        if (event->type() == QEvent::KeyPress &&
            edPathKeyDown(static_cast<QKeyEvent*>(event)->key())) {
            return true;
        }
        if (event->type() == QEvent::FocusOut) {
            edPathExit();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TDlgDirSelect::FormShow() {
    const auto local = paths_.LocalPath(Std(Directory));
    if (Directory.isEmpty() || !local || !paths_.DirectoryExists(*local)) {
        return;
    }
    edPath->setText(Directory);
    if (platform::IsNetworkPath(Std(Directory))) {
        rbUNC->setChecked(true);
    }
    SetListDirectory(*local);
}

int TDlgDirSelect::DriveOf(const std::string& path) const {
    const auto mount = platform::MountOf(path, driveMounts_);
    if (!mount) {
        return 0;
    }
    const auto found = std::ranges::find(drives_, mount->MountPoint, &TDrive::MountPoint);
    return static_cast<int>(found - drives_.begin());
}

void TDlgDirSelect::ShowDrive(int index) {
    const QSignalBlocker quiet(cbDrive);
    cbDrive->setCurrentIndex(index);
    const QString root = Shown(drives_[static_cast<std::size_t>(index)].MountPoint);
    model_->setRootPath(root);
    lbDir->setRootIndex(model_->index(root));
}

bool TDlgDirSelect::SetListDirectory(const std::string& directory) {
    if (directory.empty() || !paths_.CanList(directory)) {
        return false;
    }
    const int drive = DriveOf(directory);
    if (drive != cbDrive->currentIndex() || lbDir->rootIndex() == QModelIndex()) {
        ShowDrive(drive);
    }
    const QModelIndex index = model_->index(Shown(directory));
    for (QModelIndex above = index.parent(); above.isValid(); above = above.parent()) {
        lbDir->expand(above);
    }
    {
        const QSignalBlocker quiet(lbDir->selectionModel());
        lbDir->setCurrentIndex(index);
    }
    lbDir->scrollTo(index, QAbstractItemView::PositionAtCenter);
    // As the tree names it: absolute, without a trailing slash.
    listDir_ = index.isValid() ? Std(model_->filePath(index)) : directory;
    lbDirChange();
    return true;
}

void TDlgDirSelect::lbDirChange() {
    edPath->setText(Shown(networkMode_ ? paths_.NetworkForm(listDir_) : listDir_));
    UpdateCaption();
}

void TDlgDirSelect::UpdateCaption() {
    setWindowTitle(tr("Select a directory [%1]").arg(edPath->text()));
}

void TDlgDirSelect::edPathChange() {
    const TBusyCursor busy;
    PathValid = paths_.DirectoryExists(Std(edPath->text()));
    btOk->setEnabled(PathValid);
}

void TDlgDirSelect::edPathExit() {
    if (!PathValid) {
        return;
    }
    const auto local = paths_.LocalPath(Std(edPath->text()));
    if (!local || !SetListDirectory(*local)) {
        edPath->deselect();
        edPath->setCursorPosition(static_cast<int>(edPath->text().size()));
        QMetaObject::invokeMethod(edPath, qOverload<>(&QWidget::setFocus), Qt::QueuedConnection);
    }
    UpdateCaption();
}

bool TDlgDirSelect::edPathKeyDown(int key) {
    if ((key != Qt::Key_Return && key != Qt::Key_Enter) || !PathValid) {
        return false;
    }
    lbDir->setFocus();
    edPathExit();
    return true;
}

void TDlgDirSelect::rbSelClick() {
    cbDrive->setVisible(rbMap->isChecked());
    edPath->setVisible(rbUNC->isChecked());
    if (rbUNC->isChecked()) {
        savedDir_ = listDir_;
        savedDrive_ = cbDrive->currentIndex();
        networkMode_ = true;
        lbDirChange();
        edPath->setFocus();
    } else {
        networkMode_ = false;
        ShowDrive(savedDrive_);
        if (!SetListDirectory(savedDir_)) {
            lbDirChange();
        }
    }
}

void TDlgDirSelect::cbDriveChange(int index) {
    if (index < 0 || index >= static_cast<int>(drives_.size())) {
        return;
    }
    if (!SetListDirectory(drives_[static_cast<std::size_t>(index)].MountPoint)) {
        prompts_.Show(this, TBoxKind::Error, tr("This drive is not accessible!"));
        const QSignalBlocker quiet(cbDrive);
        cbDrive->setCurrentIndex(DriveOf(listDir_));
    }
}

void TDlgDirSelect::btOkClick() {
    Directory = Shown(platform::NetworkForm(Std(edPath->text()), {}));
    Selected = true;
    QDialog::accept();
}

void TDlgDirSelect::btCancelClick() {
    Directory.clear();
    Selected = false;
    QDialog::reject();
}

void TDlgDirSelect::reject() {
    btCancelClick();
}

} // namespace tarvok

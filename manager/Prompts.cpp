#include "manager/Prompts.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace tarvok {

namespace {

QMessageBox::Icon IconOf(TBoxKind kind) {
    switch (kind) {
    case TBoxKind::Information:
        return QMessageBox::Information;
    case TBoxKind::Warning:
        return QMessageBox::Warning;
    case TBoxKind::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

class TDesktopPrompts final : public TPrompts {
public:
    void Show(QWidget* parent, TBoxKind kind, const QString& text) override {
        QMessageBox box(IconOf(kind), QApplication::applicationDisplayName(), BoxText(text),
                        QMessageBox::Ok, parent);
        box.exec();
    }

    bool Ask(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                        BoxText(text), QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }

    std::optional<QString> OpenFile(QWidget* parent, const TOpenFileRequest& request) override {
        QFileDialog dialog(parent, request.Caption, request.StartDirectory);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        if (!request.Filters.isEmpty()) {
            dialog.setNameFilters(request.Filters);
        }
        return Chosen(dialog);
    }

    std::optional<QString> SaveFile(QWidget* parent, const TSaveFileRequest& request) override {
        QFileDialog dialog(parent, request.Caption, request.StartDirectory);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(request.DefaultExtension);
        if (!request.Filters.isEmpty()) {
            dialog.setNameFilters(request.Filters);
        }
        return Chosen(dialog);
    }

private:
    static std::optional<QString> Chosen(QFileDialog& dialog) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().constFirst();
    }
};

} // namespace

int TPrompts::Run(QDialog& dialog) {
    return dialog.exec();
}

TPrompts& DesktopPrompts() {
    static TDesktopPrompts prompts;
    return prompts;
}

QString BoxText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

} // namespace tarvok

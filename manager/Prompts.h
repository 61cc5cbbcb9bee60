// Every modal box, file dialog and dialog of the manager's own goes through TPrompts, so tests
// answer them instead of a person and no test ever waits on a window.
//
//   if (prompts.Ask(parent, "Do you really want to quit?")) ...
//   prompts.Show(parent, TBoxKind::Error, "Help file and/or Content file missing.");
//   if (auto file = prompts.OpenFile(parent, {"Programs", dir})) ...
//   if (prompts.Run(editor) == QDialog::Accepted) ...
//
// Texts are shown exactly as given; a "\r\n" in them is a line break.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QDialog;
class QWidget;

namespace tarvok {

enum class TBoxKind { Information, Warning, Error };

// A file-open dialog: an existing file must be chosen.
struct TOpenFileRequest {
    QString Caption;
    QString StartDirectory; // empty: the dialog's own default
    QStringList Filters;    // "Programs (*)"; empty: all files
};

// A file-save dialog that asks before overwriting and needs an existing directory.
struct TSaveFileRequest {
    QString Caption;
    QString StartDirectory;
    QStringList Filters;      // "Text files (*.txt)"
    QString DefaultExtension; // "txt": added when the typed name has none
};

class TPrompts {
public:
    virtual ~TPrompts() = default;
    // A box with one OK button.
    virtual void Show(QWidget* parent, TBoxKind kind, const QString& text) = 0;
    // A confirmation with Yes and No; true on Yes.
    virtual bool Ask(QWidget* parent, const QString& text) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<QString> OpenFile(QWidget* parent, const TOpenFileRequest& request) = 0;
    virtual std::optional<QString> SaveFile(QWidget* parent, const TSaveFileRequest& request) = 0;
    // Shows one of the manager's dialogs modally and gives its result (QDialog::Accepted ...).
    virtual int Run(QDialog& dialog);
};

// The real boxes and dialogs of the desktop.
TPrompts& DesktopPrompts();

// A box text as shown: "\r\n" becomes a line break.
QString BoxText(const QString& text);

} // namespace tarvok

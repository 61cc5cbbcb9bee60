#include "manager/CountBox.h"
#include "manager/Edit.h"
#include "manager/SchedEd.h"
#include "manager/TaskProp.h"
#include "manager/UncDirs.h"
#include "tests/manager/EditorFixture.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace tarvok {
namespace {

using testing_support::EditorTest;

// The visible texts and controls that do not get the room they ask for, or lie outside the
// dialog.
std::vector<std::string> Cramped(QWidget& dialog) {
    std::vector<std::string> cramped;
    const QRect inside = dialog.rect();
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        const bool text = qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget);
        const bool field =
            qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractSpinBox*>(widget);
        if (!widget->isVisibleTo(&dialog) || !(text || field)) {
            continue;
        }
        const QSize wanted =
            qobject_cast<QComboBox*>(widget) ? widget->sizeHint() : widget->minimumSizeHint();
        const QRect placed(widget->mapTo(&dialog, QPoint(0, 0)), widget->size());
        // A spin box's text must show whole: it does not scroll like a long path may.
        const auto* edit = widget->findChild<QLineEdit*>();
        const bool textCut = qobject_cast<QAbstractSpinBox*>(widget) && edit &&
                             edit->width() < edit->fontMetrics().horizontalAdvance(edit->text());
        if (widget->width() < wanted.width() || widget->height() < wanted.height() ||
            !inside.contains(placed) || textCut) {
            const auto* label = qobject_cast<QLabel*>(widget);
            const auto* button = qobject_cast<QAbstractButton*>(widget);
            cramped.push_back(widget->metaObject()->className() + std::string(" \"") +
                              (label    ? label->text()
                               : button ? button->text()
                                        : QString())
                                  .toStdString() +
                              "\"");
        }
    }
    return cramped;
}

// Every page of every tab widget in turn, so hidden pages are laid out and looked at too.
std::vector<std::string> CrampedOnEveryPage(QWidget& dialog) {
    dialog.show();
    std::vector<std::string> cramped = Cramped(dialog);
    for (QTabWidget* tabs : dialog.findChildren<QTabWidget*>()) {
        if (!tabs->isVisibleTo(&dialog)) {
            continue;
        }
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            for (std::string& name : Cramped(dialog)) {
                cramped.push_back(tabs->tabText(page).toStdString() + ": " + name);
            }
        }
    }
    dialog.hide();
    return cramped;
}

class EditorLayout : public EditorTest {
protected:
    void TearDown() override {
        QApplication::setFont(original_);
        EditorTest::TearDown();
    }

    QFont original_ = QApplication::font();
};

// Nothing is cut with the desktop's fonts from small to large; the whole suite runs again at
// 200 % (QT_SCALE_FACTOR=2).
TEST_F(EditorLayout, NothingIsCutWithLargerFonts) {
    for (const int points : {9, 14, 22}) {
        QFont font = original_;
        font.setPointSize(points);
        QApplication::setFont(font);

        TDlgEdit editor(prompts, clock, paths);
        editor.Task = TTaskDef::New();
        editor.Task.Id = 3;
        editor.Task.Name = "Nightly backup of the sales share";
        editor.Task.Command = "//fs1/sales/tools/backup.sh";
        TDlgTaskEd schedule(prompts, clock);
        for (TCountBox* count : schedule.findChildren<TCountBox*>()) {
            count->SetText(QStringLiteral("999"));
        }
        TDlgDirSelect chooser(prompts, paths);
        TDlgTaskProps properties(clock);
        properties.Task = editor.Task;
        properties.RunState = {"Nightly", 3, 4194303};

        const std::pair<const char*, QWidget*> dialogs[] = {
            {"task editor", &editor},
            {"schedule editor", &schedule},
            {"directory chooser", &chooser},
            {"task properties", &properties},
        };
        for (const auto& [name, dialog] : dialogs) {
            EXPECT_EQ(CrampedOnEveryPage(*dialog), std::vector<std::string>{})
                << name << " at " << points << " points";
        }
    }
}

} // namespace
} // namespace tarvok

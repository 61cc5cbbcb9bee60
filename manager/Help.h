// The help window: the contents of tarvok.cnt as a list beside tarvok.hlp, an HTML user guide.
//
// The contents file is text, one entry a line. A line "<level> <title>=<anchor>" is a topic
// that shows the guide at <anchor> (a name or id in the HTML); "<level> <title>" alone is a
// heading that groups the topics of the next level below it; ":Title <text>" names the window.
// Levels start at 1. Blank lines and lines that fit none of these are passed over.
//
//   :Title Tarvok help
//   1 Tasks
//   2 What a task is=tasks
#pragma once

#include <QString>
#include <QWidget>
#include <string_view>
#include <vector>

class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarvok {

struct THelpTopic {
    int Level = 1;
    QString Title;
    QString Anchor; // empty for a heading

    friend bool operator==(const THelpTopic&, const THelpTopic&) = default;
};

struct THelpContents {
    QString Title;
    std::vector<THelpTopic> Topics;
};

THelpContents ParseHelpContents(std::string_view text);

class THelpWindow final : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);

    // Reads both files; false, with the window unchanged, when one cannot be read.
    bool Load(const QString& helpPath, const QString& contentsPath);
    // Shows the guide at the topic's anchor.
    void ShowTopic(const QString& anchor);

    QTreeWidget* tvContents;
    QTextBrowser* Browser;

private:
    void TopicChosen(QTreeWidgetItem* item);
};

} // namespace tarvok

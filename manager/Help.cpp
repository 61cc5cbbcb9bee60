#include "manager/Help.h"

#include "platform/Files.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QSplitter>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <charconv>

namespace tarvok {

namespace {

// Contents deeper than this are not nested further; no guide needs more.
constexpr int MaxLevel = 8;
constexpr int AnchorRole = Qt::UserRole;

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

THelpContents ParseHelpContents(std::string_view text) {
    THelpContents contents;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.starts_with(":Title ")) {
            contents.Title = Text(Trimmed(line.substr(7)));
            continue;
        }
        int level = 0;
        const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), level);
        const std::string_view entry =
            Trimmed(line.substr(static_cast<std::size_t>(rest - line.data())));
        if (error != std::errc() || level < 1 || entry.empty()) {
            continue;
        }
        const std::size_t equals = entry.rfind('=');
        THelpTopic topic;
        topic.Level = std::min(level, MaxLevel);
        topic.Title = Text(Trimmed(entry.substr(0, std::min(equals, entry.size()))));
        if (equals != std::string_view::npos) {
            topic.Anchor = Text(Trimmed(entry.substr(equals + 1)));
        }
        if (!topic.Title.isEmpty()) {
            contents.Topics.push_back(std::move(topic));
        }
    }
    return contents;
}

THelpWindow::THelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), tvContents(new QTreeWidget), Browser(new QTextBrowser) {
    setWindowTitle(QStringLiteral("Tarvok help"));
    tvContents->setHeaderHidden(true);
    tvContents->setRootIsDecorated(true);
    Browser->setOpenExternalLinks(true);
    connect(tvContents, &QTreeWidget::itemActivated, this, &THelpWindow::TopicChosen);
    connect(tvContents, &QTreeWidget::itemClicked, this, &THelpWindow::TopicChosen);

    auto* splitter = new QSplitter(this);
    splitter->addWidget(tvContents);
    splitter->addWidget(Browser);
    splitter->setStretchFactor(1, 3);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    const QFontMetrics metrics(font());
    resize(metrics.horizontalAdvance(QLatin1Char('0')) * 110, metrics.lineSpacing() * 34);
    splitter->setSizes({metrics.horizontalAdvance(QLatin1Char('0')) * 38,
                        metrics.horizontalAdvance(QLatin1Char('0')) * 72});
}

bool THelpWindow::Load(const QString& helpPath, const QString& contentsPath) {
    std::string guide;
    std::string contentsText;
    try {
        guide = platform::ReadFile(helpPath.toStdString());
        contentsText = platform::ReadFile(contentsPath.toStdString());
    } catch (const platform::TIoError&) {
        return false;
    }
    const THelpContents contents = ParseHelpContents(contentsText);
    if (!contents.Title.isEmpty()) {
        setWindowTitle(contents.Title);
    }
    tvContents->clear();
    // The last item of each level, so that a topic lands under the heading above it.
    std::vector<QTreeWidgetItem*> parents(MaxLevel + 1, nullptr);
    for (const THelpTopic& topic : contents.Topics) {
        QTreeWidgetItem* parent = nullptr;
        for (int level = topic.Level - 1; level >= 1 && parent == nullptr; --level) {
            parent = parents[static_cast<std::size_t>(level)];
        }
        auto* item =
            parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvContents);
        item->setText(0, topic.Title);
        item->setData(0, AnchorRole, topic.Anchor);
        parents[static_cast<std::size_t>(topic.Level)] = item;
        std::fill(parents.begin() + topic.Level + 1, parents.end(), nullptr);
    }
    tvContents->expandAll();
    // The guide's pictures lie beside it.
    Browser->setSearchPaths({QFileInfo(helpPath).absolutePath()});
    Browser->setHtml(QString::fromStdString(guide));
    return true;
}

void THelpWindow::ShowTopic(const QString& anchor) {
    if (!anchor.isEmpty()) {
        Browser->scrollToAnchor(anchor);
    }
}

void THelpWindow::TopicChosen(QTreeWidgetItem* item) {
    if (item != nullptr) {
        ShowTopic(item->data(0, AnchorRole).toString());
    }
}

} // namespace tarvok

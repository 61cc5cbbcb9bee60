#include "manager/About.h"
#include "manager/Graflite.h"
#include "manager/Help.h"
#include "manager/Main.h"
#include "manager/SysIcon.h"
#include "manager/ViewLog.h"
#include "tests/TempDir.h"
#include "tests/manager/FakePrompts.h"

#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTextBrowser>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>

namespace tarvok {
namespace {

using testing::ElementsAre;
using testing_support::TFakePrompts;

TEST(NamedImages, EveryLampTrayAndTreeImageIsThereAtBothSizes) {
    QSet<QString> names;
    for (int light = 0; light < 8; ++light) {
        for (const bool dark : {false, true}) {
            for (const bool heavy : {false, true}) {
                const QString name = LampName(static_cast<TActiveLight>(light), dark, heavy);
                SCOPED_TRACE(name.toStdString());
                const QIcon lamp = NamedImage(name);
                ASSERT_FALSE(lamp.isNull());
                EXPECT_EQ(lamp.pixmap(QSize(15, 15), 1.0).size(), QSize(15, 15));
                EXPECT_EQ(lamp.pixmap(QSize(15, 15), 2.0).size(), QSize(30, 30));
                names.insert(name);
            }
        }
    }
    EXPECT_EQ(names.size(), 32);
    EXPECT_EQ(LampName(TActiveLight::alWhite, true, false), "BLACK");
    EXPECT_EQ(LampName(TActiveLight::alWhite, true, true), "DARK_WHITE_LITE");
    EXPECT_EQ(LampName(TActiveLight::alMangenta, false, true), "MANGENTA_LITE");
    EXPECT_EQ(LampName(static_cast<TActiveLight>(8), false, false), "");
    EXPECT_TRUE(NamedImage("NO_SUCH_LAMP").isNull());
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(TreeImage(index).pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32)) << index;
        EXPECT_EQ(TrayImage(index).pixmap(QSize(16, 16), 1.0).size(), QSize(16, 16)) << index;
    }
    EXPECT_TRUE(TreeImage(4).isNull());
}

TEST(GraphicLight, DrawsTheLampOfItsColourShadeAndStyle) {
    TGraphicLight light;
    EXPECT_EQ(light.size(), QSize(17, 17));
    EXPECT_EQ(light.Lamp(), "DARK_GREEN");
    light.SetDarkLite(false);
    light.SetActiveLight(TActiveLight::alYellow);
    EXPECT_EQ(light.Lamp(), "YELLOW");
    light.SetHeavyLite(true);
    EXPECT_EQ(light.Lamp(), "YELLOW_LITE");
    const QImage drawn = light.grab().toImage();
    const QColor centre = drawn.pixelColor(9, 9);
    EXPECT_GT(centre.red(), 200);
    EXPECT_GT(centre.green(), 150);
    EXPECT_LT(centre.blue(), 100);
}

TEST(SysTrayIcon, AddsOnlyWithAnImageAndATrayAndPopsTheMenuOnAPress) {
    bool tray = false;
    TSysTrayIcon icon([&tray] { return tray; });
    icon.SetTip(QString(70, QLatin1Char('x')));
    EXPECT_EQ(icon.Tip().size(), TSysTrayIcon::MaxTipLength);

    tray = true;
    EXPECT_FALSE(icon.AddIcon()) << "no image yet";
    icon.SetIcon(TrayImage(TrayRedImage));
    tray = false;
    EXPECT_FALSE(icon.AddIcon()) << "no notification area";
    tray = true;
    EXPECT_TRUE(icon.AddIcon());
    EXPECT_TRUE(icon.AddIcon());
    icon.RemoveIcon();
    EXPECT_FALSE(icon.Shown());

    QMenu menu;
    menu.addAction(QStringLiteral("Open the Tarvok window"));
    icon.TrayMenu = &menu;
    const QSystemTrayIcon::ActivationReason ignored[] = {QSystemTrayIcon::DoubleClick,
                                                         QSystemTrayIcon::MiddleClick};
    for (const auto reason : ignored) {
        icon.Activated(reason);
        EXPECT_FALSE(menu.isVisible()) << reason;
    }
    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context}) {
        icon.Activated(reason);
        EXPECT_TRUE(menu.isVisible()) << reason;
        menu.hide();
    }
}

TEST(AboutBox, ShowsNameAndVersionLine) {
    TAboutBox box;
    box.ProgramName = "Tarvok!";
    box.VersionLine = "Version 10.2.300.4000";
    box.show();
    EXPECT_EQ(box.windowTitle(), "About Tarvok!");
    EXPECT_EQ(box.lbProgName->text(), "Tarvok!");
    EXPECT_EQ(box.lbVersion->text(), "Version 10.2.300.4000");
    EXPECT_TRUE(box.OKButton->isDefault());
    box.OKButton->click();
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

class LogViewerTest : public testing_support::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        // Mixed case: file names are case-sensitive here, so the path is used as given.
        std::filesystem::create_directories(dir_ / "Tarvok");
        log_ = Path("Tarvok/Tarvok.log");
        viewer_.FileName = QString::fromStdString(log_);
    }

    TFakePrompts prompts_;
    TDlgViewLog viewer_{prompts_};
    std::string log_;
};

TEST_F(LogViewerTest, ShowsTheFileOrItsErrorLineAndRereadsOnRefresh) {
    viewer_.FormShow();
    EXPECT_EQ(viewer_.windowTitle().toStdString(), "Tarvok log (" + log_ + ")");
    EXPECT_EQ(viewer_.Memo1->toPlainText().toStdString(), "ERROR: Could not open file " + log_);

    Write(log_, "one\r\ntwo\r\n");
    viewer_.Refresh1->trigger();
    EXPECT_EQ(viewer_.Memo1->toPlainText(), "one\ntwo");
    std::ofstream(log_, std::ios::app) << "three\r\n";
    EXPECT_EQ(viewer_.Refresh1->shortcut(), QKeySequence(Qt::Key_F5));
    viewer_.Refresh1->trigger();
    EXPECT_EQ(viewer_.Memo1->toPlainText(), "one\ntwo\nthree");
    EXPECT_TRUE(prompts_.Shown.empty());
}

TEST_F(LogViewerTest, SaveAsRefusesTheLogByAnyNameAndWritesCrLfElsewhere) {
    Write(log_, "one\ntwo\r\n");
    viewer_.FormShow();
    std::filesystem::create_symlink(log_, Path("link.log"));
    const std::string otherNames[] = {Path("Tarvok/./Tarvok.log"),
                                      Path("Tarvok/../Tarvok/Tarvok.log"), Path("link.log")};
    for (const std::string& name : otherNames) {
        prompts_.ChosenFiles = {QString::fromStdString(name)};
        viewer_.Saveas1Click();
        EXPECT_EQ(prompts_.LastShown(), "Cannot overwtite the original file") << name;
        prompts_.Shown.clear();
    }
    EXPECT_EQ(Read(log_), "one\ntwo\r\n");

    prompts_.ChosenFiles = {std::nullopt}; // cancelled
    viewer_.Saveas1Click();
    ASSERT_EQ(prompts_.SaveRequests.size(), 4u);
    EXPECT_EQ(prompts_.SaveRequests.back().DefaultExtension, "txt");

    prompts_.ChosenFiles = {QString::fromStdString(Path("copy.txt"))};
    viewer_.Saveas1Click();
    EXPECT_EQ(Read(Path("copy.txt")), "one\r\ntwo\r\n");
    EXPECT_TRUE(prompts_.Shown.empty());

    prompts_.ChosenFiles = {QString::fromStdString(Path("missing/copy.txt"))};
    viewer_.Saveas1Click();
    EXPECT_THAT(prompts_.LastShown().toStdString(), testing::HasSubstr(Path("missing/copy.txt")));
}

TEST(HelpContents, ReadsTitleHeadingsAndTopics) {
    const THelpContents contents = ParseHelpContents(":Title Tarvok help\r\n"
                                                     "1 Tasks\n"
                                                     "2 What a task is=tasks\n"
                                                     "\n"
                                                     "two words\n"
                                                     "0 Level zero=zero\n"
                                                     "3  Spaced = anchor \n"
                                                     "1 a=b=c\n");
    EXPECT_EQ(contents.Title, "Tarvok help");
    EXPECT_THAT(contents.Topics,
                ElementsAre(THelpTopic{1, "Tasks", ""}, THelpTopic{2, "What a task is", "tasks"},
                            THelpTopic{3, "Spaced", "anchor"}, THelpTopic{1, "a=b", "c"}));
}

TEST(HelpWindow, EveryTopicOfTheShippedContentsHasItsPlaceInTheGuide) {
    THelpWindow help;
    ASSERT_TRUE(help.Load(HELP_DIR "/tarvok.hlp", HELP_DIR "/tarvok.cnt"));
    std::ifstream in(HELP_DIR "/tarvok.cnt");
    const THelpContents contents =
        ParseHelpContents(std::string(std::istreambuf_iterator<char>(in), {}));
    std::ifstream guideIn(HELP_DIR "/tarvok.hlp");
    const std::string guide(std::istreambuf_iterator<char>(guideIn), {});
    int topics = 0;
    for (const THelpTopic& topic : contents.Topics) {
        if (!topic.Anchor.isEmpty()) {
            ++topics;
            EXPECT_NE(guide.find("name=\"" + topic.Anchor.toStdString() + "\""), std::string::npos)
                << topic.Title.toStdString();
        }
    }
    EXPECT_GT(topics, 10);
    // Headings hold their topics.
    EXPECT_EQ(help.tvContents->topLevelItemCount(),
              std::count_if(contents.Topics.begin(), contents.Topics.end(),
                            [](const THelpTopic& topic) { return topic.Level == 1; }));
    EXPECT_FALSE(help.Load(HELP_DIR "/tarvok.hlp", HELP_DIR "/missing.cnt"));
}

TEST(HelpWindow, EveryPictureOfTheGuideIsFoundBesideIt) {
    THelpWindow help;
    ASSERT_TRUE(help.Load(HELP_DIR "/tarvok.hlp", HELP_DIR "/tarvok.cnt"));
    std::ifstream in(HELP_DIR "/tarvok.hlp");
    const std::string guide(std::istreambuf_iterator<char>(in), {});
    const std::regex picture("<img src=\"([^\"]+)\"");
    int pictures = 0;
    for (auto it = std::sregex_iterator(guide.begin(), guide.end(), picture);
         it != std::sregex_iterator(); ++it) {
        ++pictures;
        const QString name = QString::fromStdString((*it)[1].str());
        // The browser hands a file's bytes over; the document decodes them.
        const QVariant resource =
            help.Browser->loadResource(QTextDocument::ImageResource, QUrl(name));
        EXPECT_FALSE(QImage::fromData(resource.toByteArray()).isNull()) << name.toStdString();
    }
    EXPECT_GE(pictures, 3);
}

} // namespace
} // namespace tarvok

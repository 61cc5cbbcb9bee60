#include "platform/Files.h"
#include "service/TarvokSvc.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(CommandLine, FirstArgumentInUpperCaseSelectsTheAction) {
    struct TRow {
        Strings Args;
        TCommand Command;
    };
    const TRow rows[] = {
        {{}, TCommand::RunService},
        {{"INSTALL"}, TCommand::Install},
        {{"install"}, TCommand::Install},
        {{"i"}, TCommand::Install},
        {{"UnInstall"}, TCommand::Uninstall},
        {{"run"}, TCommand::RunInForeground},
        {{"RUN", "now"}, TCommand::RunInForeground},
        {{"runs"}, TCommand::ShowUsage},
        {{"U", "INSTALL"}, TCommand::Uninstall},
        {{"/install"}, TCommand::ShowUsage},
        {{"-i"}, TCommand::ShowUsage},
        {{"installs"}, TCommand::ShowUsage},
        {{""}, TCommand::ShowUsage},
        {{"x", "install"}, TCommand::ShowUsage},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Args.empty() ? "(none)" : row.Args.front());
        EXPECT_EQ(ParseCommandLine(row.Args), row.Command);
    }
}

class InstallTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarvok-install-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "units");
    }
    void TearDown() override { fs::remove_all(dir_); }

    Strings Run(bool (*action)(const TInstallParts&), const std::string& program = "/opt/t/Svc") {
        const platform::TServiceManager manager(
            {(dir_ / "units").string(),
             [this] {
                 ++reloads_;
                 return reloadError_;
             },
             [this] { return booted_; },
             [this](const std::string& unit) {
                 disabled_.push_back(unit + (fs::exists(Unit()) ? "" : " (already removed)"));
                 return disableError_;
             },
             [](const std::string&, std::uint32_t) { return std::string("not here"); }});
        const platform::TEventRegistration registration({catalogDir_.string(), [] {}});
        out_.str("");
        succeeded_ = action({manager, registration, program, out_});
        Strings lines;
        std::istringstream in(out_.str());
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    fs::path Unit() const { return dir_ / "units" / "TarvokService.service"; }
    fs::path Catalog() const { return catalogDir_ / "TarvokService.catalog"; }

    fs::path dir_;
    std::ostringstream out_;
    fs::path catalogDir_ = fs::temp_directory_path() / "unset";
    bool booted_ = true;
    int reloadError_ = 0;
    int reloads_ = 0;
    int disableError_ = 0;
    Strings disabled_;
    bool succeeded_ = false;
};

TEST_F(InstallTest, InstallTwiceThenUninstallTwice) {
    catalogDir_ = dir_ / "catalog" / "new"; // created on the way
    EXPECT_EQ(
        Run(InstallService),
        (Strings{"Installing service...", "Path to service module is /opt/t/Svc",
                 "The service was installed successfully.", "The unit file is " + Unit().string(),
                 "",
                 "Please finish the configuration with:", "systemctl enable --now TarvokService",
                 "The service to configure is: \"Tarvok Scheduler 1.0\"", "",
                 "The journal catalog has been written for event logging: " + Catalog().string()}));
    EXPECT_TRUE(succeeded_);
    EXPECT_EQ(platform::ReadFile(Unit()),
              "[Unit]\nDescription=Tarvok Scheduler 1.0\n\n[Service]\nType=notify\n"
              "ExecStart=/opt/t/Svc\nKillMode=process\nRestart=on-failure\nRestartSec=5\n\n"
              "[Install]\nWantedBy=multi-user.target\n");
    EXPECT_EQ(fs::status(Unit()).permissions(), fs::perms(0644));
    EXPECT_TRUE(fs::exists(Catalog()));
    EXPECT_EQ(reloads_, 1);

    fs::remove(Catalog());
    EXPECT_EQ(Run(InstallService),
              (Strings{"Installing service...", "Path to service module is /opt/t/Svc",
                       "Failed to create the service. Error was 'File exists'"}));
    EXPECT_FALSE(succeeded_);
    EXPECT_FALSE(fs::exists(Catalog())) << "a failed install touched the event registration";

    EXPECT_EQ(
        Run(UninstallService),
        (Strings{"The service was uninstalled successfully.",
                 "The unit file " + Unit().string() + " has been removed.",
                 "The journal catalog for event logging has been removed: " + Catalog().string()}));
    EXPECT_TRUE(succeeded_);
    EXPECT_FALSE(fs::exists(Unit()));
    EXPECT_EQ(disabled_, Strings{"TarvokService.service"}) << "disabled once, before removal";
    EXPECT_EQ(reloads_, 2);
    EXPECT_EQ(Run(UninstallService),
              (Strings{"Failed to open service \"TarvokService\": Error was 'No such file or "
                       "directory'"}));
    EXPECT_FALSE(succeeded_);
}

TEST_F(InstallTest, NothingIsWrittenWhereTheServiceManagerDoesNotRun) {
    booted_ = false;
    catalogDir_ = dir_ / "catalog";
    const std::string instead = "systemd is not running on this machine: run the service in the "
                                "foreground with \"TarvokSvc run\" instead.";
    EXPECT_EQ(
        Run(InstallService),
        (Strings{"Installing service...", "Path to service module is /opt/t/Svc",
                 "Failed to open Service Control Manager. Error was 'No such process'", instead}));
    EXPECT_FALSE(succeeded_);
    EXPECT_EQ(
        Run(UninstallService),
        (Strings{"Failed to open Service control Manager. Error was 'No such process'", instead}));
    EXPECT_FALSE(succeeded_);
    EXPECT_FALSE(fs::exists(Unit()));
    EXPECT_FALSE(fs::exists(catalogDir_));
    EXPECT_EQ(reloads_, 0);
}

TEST_F(InstallTest, UnitFailuresLeaveNoUnitBehind) {
    struct TRow {
        const char* Name;
        std::string Program;
        int ReloadError;
        std::string Line;
        std::string ExecStart; // when installed
    };
    const TRow rows[] = {
        {"reload fails", "/opt/t/Svc", EPERM, "Error was 'Operation not permitted'", ""},
        {"line break in the path", "/opt/t\nExecStartPre=/bin/evil", 0,
         "Error was 'Invalid argument'", ""},
        {"relative path", "t/Svc", 0, "Error was 'Invalid argument'", ""},
        {"blank and percent", "/opt/my dir/50%\\\"x\"", 0, "installed successfully",
         "ExecStart=\"/opt/my dir/50%%\\\\\\\"x\\\"\"\n"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        fs::remove(Unit());
        reloadError_ = row.ReloadError;
        catalogDir_ = dir_ / "catalog";
        std::string report;
        for (const std::string& line : Run(InstallService, row.Program)) {
            report += line + "\n";
        }
        EXPECT_NE(report.find(row.Line), std::string::npos) << report;
        EXPECT_EQ(succeeded_, !row.ExecStart.empty());
        EXPECT_EQ(fs::exists(Unit()), !row.ExecStart.empty());
        if (!row.ExecStart.empty()) {
            EXPECT_NE(platform::ReadFile(Unit()).find(row.ExecStart), std::string::npos);
        }
        fs::remove(Unit());
        EXPECT_EQ(fs::directory_iterator(dir_ / "units"), fs::directory_iterator())
            << "temporary files left behind";
    }
}

TEST_F(InstallTest, AServiceThatCannotBeDisabledStaysInstalled) {
    catalogDir_ = dir_ / "catalog";
    Run(InstallService);
    disableError_ = EACCES;
    EXPECT_EQ(Run(UninstallService),
              (Strings{"Failed to delete service. Error was 'Permission denied'"}));
    EXPECT_FALSE(succeeded_);
    EXPECT_TRUE(fs::exists(Unit()));
    EXPECT_TRUE(fs::exists(Catalog()));
    EXPECT_EQ(reloads_, 1) << "only the install reloaded";
}

TEST_F(InstallTest, EventRegistrationFailures) {
    platform::ReplaceFile((dir_ / "plain").string(), "x");
    catalogDir_ = dir_ / "plain" / "catalog"; // cannot be created under a file
    EXPECT_EQ(Run(InstallService).back(), "Failed to open key " + Catalog().string());
    EXPECT_FALSE(succeeded_) << "installed without its event messages";
    EXPECT_TRUE(fs::exists(Unit())) << "the service stays installed";

    fs::remove(Unit());
    catalogDir_ = dir_ / "catalog";
    fs::create_directories(Catalog()); // the table cannot be written over a directory
    EXPECT_THROW(Run(InstallService), platform::TIoError);
    EXPECT_EQ(out_.str(), "") << "the report is not shown after this failure";
}

} // namespace
} // namespace tarvok

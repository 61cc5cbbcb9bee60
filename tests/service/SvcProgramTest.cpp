// The real TarvokSvc, run from a program directory of its own. Where user namespaces allow it,
// it runs in private network and mount namespaces with this test as its journal (a socket at
// the journal's address) and, when asked, as its service manager (NOTIFY_SOCKET, signals).
#include "tests/Spawn.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using Fields = std::map<std::string, std::string>;

class TDatagrams {
public:
    explicit TDatagrams(const fs::path& path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    }
    ~TDatagrams() { ::close(fd_); }
    bool Empty() const {
        pollfd ready{fd_, POLLIN, 0};
        return ::poll(&ready, 1, 0) == 0;
    }
    // The next datagram; the limit only guards against a program that never sends.
    std::optional<std::string> Next() {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 10'000) != 1) {
            return std::nullopt;
        }
        std::string buffer(65536, '\0');
        const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
        return buffer.substr(0, got < 0 ? 0 : static_cast<std::size_t>(got));
    }

private:
    int fd_;
};

// The journal's native form, for values without line breaks: "NAME=value\n" per field.
Fields JournalFields(const std::string& datagram) {
    Fields fields;
    std::istringstream in(datagram);
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        fields[line.substr(0, equals)] = equals == std::string::npos ? "" : line.substr(equals + 1);
    }
    return fields;
}

class SvcProgramTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarvok-svc-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "journal");
        fs::copy_file(TARVOK_SVC_BINARY, dir_ / "TarvokSvc");
        namespaces_ = Spawn({"unshare", "-rmn", "sh", "-c", MountJournal, "sh",
                             (dir_ / "journal").string(), "true"},
                            {}) &&
                      Finish() == 0;
        if (namespaces_) {
            journal_.emplace(dir_ / "journal" / "socket");
        }
    }
    void TearDown() override {
        if (running_) {
            ::kill(child_, SIGKILL);
            Finish();
        }
        journal_.reset();
        fs::remove_all(dir_);
    }

    // Starts the copied program, inside the namespaces when possible.
    bool Start(std::vector<std::string> args, const std::string& notifySocket = "") {
        args.insert(args.begin(), (dir_ / "TarvokSvc").string());
        if (namespaces_) {
            args.insert(args.begin(), {"unshare", "-rmn", "sh", "-c", MountJournal, "sh",
                                       (dir_ / "journal").string()});
        }
        return Spawn(args, notifySocket.empty() ? std::vector<std::string>{}
                                                : std::vector{"NOTIFY_SOCKET=" + notifySocket});
    }
    int Finish() {
        running_ = false;
        return testing_support::WaitForProgram(child_);
    }
    std::string Output(const char* name) const {
        std::ifstream in(dir_ / name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    Fields NextEvent() { return JournalFields(journal_->Next().value_or("")); }

    static constexpr const char* MountJournal =
        "mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/journal && "
        "mount --bind \"$1\" /run/systemd/journal && shift && exec \"$@\"";

    fs::path dir_;
    bool namespaces_ = false;
    std::optional<TDatagrams> journal_;
    pid_t child_ = 0;
    bool running_ = false;

private:
    // Output goes to the files "stdout" and "stderr" of the program directory.
    bool Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
        child_ = testing_support::SpawnProgram(
            args, environment,
            {.Out = (dir_ / "stdout").string(), .Err = (dir_ / "stderr").string()});
        running_ = child_ != 0;
        return running_;
    }
};

TEST_F(SvcProgramTest, ByHandWithoutArgumentsPrintsNothingAndEndsWithZero) {
    ASSERT_TRUE(Start({}));
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Output("stdout"), "");
    EXPECT_EQ(Output("stderr"), "");
    if (!namespaces_) {
        GTEST_SKIP() << "no user namespaces: the error event was not checked";
    }
    const std::string notConnected = std::to_string(ENOTCONN);
    const Fields event = NextEvent();
    EXPECT_EQ(event.at("MESSAGE"),
              "The call to start the service displatcher failed with " + notConnected + ".");
    EXPECT_EQ(event.at("MESSAGE_ID"), "9ccf814b89aa47f48205009dc000000a");
    EXPECT_EQ(event.at("PRIORITY"), "3");
    EXPECT_EQ(event.at("SYSLOG_IDENTIFIER"), "TarvokService");
    EXPECT_EQ(event.at("TARVOK_ERROR"), notConnected);
    EXPECT_EQ(event.at("TARVOK_STATUS_RECORD"), std::string(56, '0'));
    EXPECT_TRUE(journal_->Empty()) << "more than the one event";
}

TEST_F(SvcProgramTest, AnyOtherArgumentShowsTheUsageLines) {
    ASSERT_TRUE(Start({"/install", "more"}));
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Output("stdout"), "Command line options:\n\nTarvokSvc INSTALL\nTarvokSvc I\n"
                                "TarvokSvc UNINSTALL\nTarvokSvc U\nTarvokSvc RUN\n");
}

TEST_F(SvcProgramTest, FollowsTheServiceManagerThroughPauseAndStop) {
    const fs::path notifyPath = dir_ / "notify";
    TDatagrams notify(notifyPath);
    ASSERT_TRUE(Start({}, notifyPath.string()));
    auto expectNotify = [&](const std::string& text) {
        EXPECT_EQ(notify.Next().value_or("(nothing)"), text);
    };
    // The status record travels with each event: type 0x110, state, controls accepted 3, ...
    auto expectEvent = [&](const char* id, const char* priority, const char* state) {
        Fields event;
        if (namespaces_) {
            event = NextEvent();
            EXPECT_EQ(event["MESSAGE_ID"], std::string("9ccf814b89aa47f48205009d") + id);
            EXPECT_EQ(event["PRIORITY"], priority);
            EXPECT_EQ(event["TARVOK_STATUS_RECORD"].substr(0, 24),
                      std::string("10010000") + state + "03000000");
        }
        return event;
    };
    expectNotify("STATUS=Starting");
    expectNotify("READY=1\nSTATUS=Running");
    expectEvent("40000001", "6", "04000000");
    ::kill(child_, SIGUSR1);
    expectNotify("STATUS=Paused");
    expectEvent("80000002", "4", "07000000");
    ::kill(child_, SIGUSR2);
    expectNotify("READY=1\nSTATUS=Running");
    if (Fields resumed = expectEvent("40000003", "6", "04000000"); namespaces_) {
        const std::string& paused = resumed["TARVOK_PAUSED_MILLISECONDS"];
        EXPECT_NE(resumed["MESSAGE"].find(" " + paused + " milliseconds."), std::string::npos)
            << resumed["MESSAGE"] << " / field " << paused;
    }
    ::kill(child_, SIGTERM);
    expectNotify("STOPPING=1\nEXTEND_TIMEOUT_USEC=1500000\nSTATUS=Stopping");
    expectEvent("40000005", "6", "03000000");
    expectNotify("STATUS=Stopped");
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Output("stdout") + Output("stderr"), "");
}

} // namespace
} // namespace tarvok

// Attacks on a real TarvokSvc run as root from a program directory of its own, by an account
// that may not control it: messages to the service's slot, writes to its files, links planted
// where it writes, its slots taken before it starts, a process id taken after a run ends, a
// directory above it or an ACL. The test plays the service manager (its own NOTIFY_SOCKET) and
// the manager (the slot "TarvokClient", in the slots of the service's program directory). The
// intruder is a separate program run through setpriv.
//
// Whether an attack worked is judged by what it would have caused: a task that ran, a file
// that changed, a log that was cut or leaked, an answer the service sent.
#include "shared/MailSlot.h"
#include "shared/Protocol.h"
#include "shared/SysLog.h"
#include "shared/TaskDef.h"
#include "tests/Spawn.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <optional>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::SpawnProgram;
using testing_support::WaitForProgram;

constexpr std::uint32_t Nobody = 65534;
constexpr int IntruderDone = 0;
constexpr int IntruderRefused = 3;

// Waits for something the programs will do; the bound only turns a broken program into a
// failure instead of a hang.
bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Attempts and the ones that got through, with what each breach was.
struct TScore {
    int Attempts = 0;
    std::vector<std::string> Breaches;

    void Add(int attempts) { Attempts += attempts; }
    void Breach(bool happened, const std::string& what) {
        if (happened) {
            Breaches.push_back(what);
        }
    }
    std::string Report() const {
        std::string text = std::to_string(Attempts) + " attempts, " +
                           std::to_string(Breaches.size()) + " successes";
        for (const std::string& breach : Breaches) {
            text += "\n  " + breach;
        }
        return text;
    }
};

TTaskDef Task(std::int32_t id, const std::string& name, bool blocking, const fs::path& marker) {
    TTaskDef task = TTaskDef::New();
    task.Id = id;
    task.Name = name;
    task.Command = "/usr/bin/touch";
    task.Parameters = marker.string();
    task.Enabled = true;
    task.Blocking = blocking;
    return task; // no schedule: it runs only when asked to
}

void SaveTasks(const fs::path& path, std::initializer_list<TTaskDef> tasks) {
    TTaskList list;
    for (TTaskDef task : tasks) {
        list.AddTask(task, false);
    }
    list.SaveToFile(path.string());
}

class AttackTest : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the service must run as root and the intruder as another account";
        }
        root_ = fs::temp_directory_path() /
                ("tarvok-attack-" + std::to_string(::getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        for (const fs::path& dir : {root_, tools_(), out_()}) {
            fs::create_directories(dir);
            ::chmod(dir.c_str(), 0755);
        }
        fs::create_directories(vault_());
        ::chmod(vault_().c_str(), 0700);
        Write(vault_() / "victim", "victim\n");
        Write(vault_() / "secret", "secret 4711\n");
        fs::copy_file(TARVOK_INTRUDER, Intruder());
        ::chmod(Intruder().c_str(), 0755);
        SaveTasks(tools_() / "evil.tsk", {Task(1, "Evil", false, out_() / "evil")});

        if (Intrude(Nobody, {"whoami", std::to_string(Nobody)}) != IntruderDone) {
            GTEST_SKIP() << "cannot run a program as uid " << Nobody
                         << " with setpriv (util-linux):\n"
                         << Read(root_ / "intruder.out");
        }
        notify_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        (root_ / "notify").string().copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(notify_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }

    void TearDown() override {
        if (service_ > 0) {
            ::kill(service_, SIGKILL);
            WaitForProgram(service_);
        }
        if (notify_ >= 0) {
            ::close(notify_);
        }
        client_.reset();
        if (!root_.empty()) {
            fs::remove_all(root_);
        }
    }

    fs::path prog_() const { return root_ / programDir_; }
    fs::path tools_() const { return root_ / "tools"; }
    fs::path vault_() const { return root_ / "vault"; }
    fs::path out_() const { return root_ / "out"; }
    fs::path Intruder() const { return tools_() / "intruder"; }
    fs::path TaskFile() const { return prog_() / "tarvok.tsk"; }
    fs::path LogFile() const { return prog_() / "tarvok.log"; }

    void MakeProgramDirectory(mode_t mode, gid_t group) {
        fs::create_directories(prog_());
        fs::copy_file(TARVOK_SVC_BINARY, prog_() / "TarvokSvc");
        ASSERT_EQ(::chown(prog_().c_str(), 0, group), 0);
        ASSERT_EQ(::chmod(prog_().c_str(), mode), 0);
        // The test plays the manager of this directory: its slots are the service's.
        UseSlotsOf(prog_());
        client_.emplace(ClientSlotName);
    }

    // Starts one act of the intruder program as the account, inside whatever the prefix enters;
    // its output goes to the file (by default the one every act appends to, kept for the
    // failure messages).
    pid_t StartIntruder(std::uint32_t uid, std::vector<std::string> args,
                        std::vector<std::string> prefix = {}, const fs::path& output = {}) {
        const std::string id = std::to_string(uid);
        args.insert(args.begin(), {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups",
                                   "--", Intruder().string()});
        prefix.insert(prefix.end(), args.begin(), args.end());
        const bool own = !output.empty();
        return SpawnProgram(prefix, {},
                            {.Out = (own ? output : root_ / "intruder.out").string(),
                             .Err = (root_ / "intruder.out").string(),
                             .Append = true});
    }

    // Root asks for a reload and for task 1, which only the stranger's file has: it must not run,
    // and the log must say why; the service goes on obeying root.
    void ExpectTheStrangersTaskRefused(TScore& score) {
        for (const char* message : {"TN 1", "TR 1"}) {
            ASSERT_TRUE(SendSlotMessage(ServiceSlotName, message));
        }
        Sync();
        score.Breach(fs::exists(out_() / "evil") || CountStartingWith("Task \"Evil\"") > 0,
                     "the stranger's task ran");
        EXPECT_GE(CountStartingWith("The task file is not trusted ("), 1u) << Read(LogFile());
        EXPECT_TRUE(ServiceRunning());
        EXPECT_EQ(StopService(), 0);
        std::cout << "[ attacks  ] " << score.Report() << '\n';
        EXPECT_TRUE(score.Breaches.empty()) << score.Report();
    }

    // The mistake of an administrator who opens the slot directory and the service's slot.
    void OpenSlotsToEveryone() {
        ASSERT_EQ(::chmod((prog_() / "slots").c_str(), 02771), 0);
        ASSERT_EQ(::chmod(SlotPath(ServiceSlotName).c_str(), 0662), 0);
    }

    // Runs a command as root, after what the prefix enters, to its end; its exit code.
    int RunAsRoot(std::vector<std::string> prefix, const std::vector<std::string>& command = {}) {
        prefix.insert(prefix.end(), command.begin(), command.end());
        const pid_t pid =
            SpawnProgram(prefix, {}, {.Out = (root_ / "root.out").string(), .Err = {}});
        return pid > 0 ? WaitForProgram(pid) : -1;
    }

    // Writes a line into a pipe once a reader has it open.
    bool Release(const fs::path& fifo) {
        return WaitUntil([&] {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                return false;
            }
            const bool written = ::write(fd, "go\n", 3) == 3;
            ::close(fd);
            return written;
        });
    }

    // Runs one act to its end; answers its exit code.
    int Intrude(std::uint32_t uid, std::vector<std::string> args,
                std::vector<std::string> prefix = {}) {
        const pid_t pid = StartIntruder(uid, std::move(args), std::move(prefix));
        return pid > 0 ? WaitForProgram(pid) : -1;
    }

    // The service, or whatever the wrapper (a command line that runs the program named last)
    // runs it in.
    void StartService(std::vector<std::string> wrapper = {}) {
        wrapper.push_back((prog_() / "TarvokSvc").string());
        service_ =
            SpawnProgram(wrapper, {"NOTIFY_SOCKET=" + (root_ / "notify").string()},
                         {.Out = (root_ / "service.out").string(), .Err = {}, .Append = true});
        ASSERT_GT(service_, 0);
        servicePid_ = wrapper.size() == 1 ? service_ : 0;
        std::string buffer(4096, '\0');
        bool ready = false;
        ASSERT_TRUE(WaitUntil([&] {
            const ssize_t got = ::recv(notify_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            ready = got > 0 && buffer.substr(0, static_cast<std::size_t>(got)).find("READY=1") !=
                                   std::string::npos;
            return ready || !ServiceRunning();
        }));
        ASSERT_TRUE(ready) << Read(root_ / "service.out");
        if (servicePid_ == 0) {
            servicePid_ = ChildOf(service_);
            ASSERT_GT(servicePid_, 0);
        }
    }

    // The one child of a wrapper that runs the program in its stead.
    static pid_t ChildOf(pid_t wrapper) {
        const std::string path =
            "/proc/" + std::to_string(wrapper) + "/task/" + std::to_string(wrapper) + "/children";
        return static_cast<pid_t>(std::atoi(Read(path).c_str()));
    }

    bool ServiceRunning() const {
        return service_ > 0 && ::waitpid(service_, nullptr, WNOHANG) == 0;
    }

    int StopService() {
        ::kill(servicePid_, SIGTERM);
        const int code = WaitForProgram(service_);
        service_ = servicePid_ = 0;
        return code;
    }

    // The log's messages without their time stamps.
    std::vector<std::string> Log() const {
        std::vector<std::string> messages;
        for (const std::string& line : SplitLogLines(Read(LogFile()))) {
            const std::size_t colon = line.find(" : ");
            messages.push_back(colon == std::string::npos ? line : line.substr(colon + 3));
        }
        return messages;
    }
    std::size_t Count(const std::string& message) const {
        const auto log = Log();
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), message));
    }
    std::size_t CountStartingWith(const std::string& prefix) const {
        const auto log = Log();
        return static_cast<std::size_t>(std::count_if(
            log.begin(), log.end(), [&](const std::string& m) { return m.starts_with(prefix); }));
    }

    // Root's "CD" travels behind everything sent before it, so once its line is in the log the
    // service has dealt with all of that.
    void Sync() {
        const std::size_t before = Count("Client has disconnected.");
        ASSERT_TRUE(SendSlotMessage(ServiceSlotName, "CD"));
        ASSERT_TRUE(WaitUntil([&] { return Count("Client has disconnected.") > before; }));
        ++syncs_;
    }

    // What the service told the manager, its status and log notices left out.
    std::vector<std::string> Told() {
        for (std::string message = client_->ReadMessage(); !message.empty();
             message = client_->ReadMessage()) {
            if (message != "SR" && message != "SS" && message != "LC") {
                told_.push_back(message);
            }
        }
        return told_;
    }

    bool ToldAny(const std::string& prefix) {
        const auto told = Told();
        return std::any_of(told.begin(), told.end(),
                           [&](const std::string& m) { return m.starts_with(prefix); });
    }

    fs::path root_;
    fs::path programDir_ = "prog";
    pid_t service_ = 0;
    pid_t servicePid_ = 0; // the program itself, where a wrapper runs it
    int notify_ = -1;
    std::optional<TMailSlot> client_;
    std::vector<std::string> told_;
    std::size_t syncs_ = 0;
};

TEST_F(AttackTest, AStrangerChangesNothing) {
    MakeProgramDirectory(02775, 0);
    SaveTasks(TaskFile(),
              {Task(1, "Mark", true, out_() / "ran-1"), Task(2, "Spare", false, out_() / "ran-2")});
    StartService();
    const std::string tasks = Read(TaskFile());
    TScore score;

    const std::string handedOver = "TS 1 " + std::to_string(::getpid()); // a process that lives
    const std::vector<std::string> messages = {"TR 1", "TR 2",     "TD 2", "LT", "TN 2",
                                               "TM 1", handedOver, "CR",   "CD"};
    // The system keeps the stranger out of the slots...
    for (const std::string& message : messages) {
        const int verdict = Intrude(Nobody, {"send", prog_().string(), message});
        EXPECT_EQ(verdict, IntruderRefused) << message;
        score.Breach(verdict == IntruderDone, "the slot took " + message);
    }
    // ... and should an administrator open them to everyone, the service still hears no stranger.
    OpenSlotsToEveryone();
    for (const std::string& message : messages) {
        EXPECT_EQ(Intrude(Nobody, {"send", prog_().string(), message}), IntruderDone)
            << message << " was not even delivered";
    }
    constexpr int flood = 300;
    EXPECT_EQ(Intrude(Nobody, {"send", prog_().string(), "TR 2", std::to_string(flood)}),
              IntruderDone);
    score.Add(2 * static_cast<int>(messages.size()) + flood);

    const std::string evil = (tools_() / "evil.tsk").string();
    const std::vector<std::vector<std::string>> acts = {
        {"write", TaskFile().string(), evil},
        {"replace", TaskFile().string(), evil},
        {"remove", TaskFile().string()},
        {"write", LogFile().string(), evil},
        {"remove", LogFile().string()},
        {"replace", (prog_() / "TarvokSvc").string(), evil},
        {"link", (vault_() / "victim").string(), (prog_() / "tarvok.tsk.tmp").string()},
        {"link", (vault_() / "victim").string(), (prog_() / "tarvok.log.tmp-0000000000").string()},
    };
    for (const auto& act : acts) {
        const int verdict = Intrude(Nobody, act);
        EXPECT_EQ(verdict, IntruderRefused) << act[0] << " " << act[1];
        score.Breach(verdict == IntruderDone, act[0] + " " + act[1]);
    }
    score.Add(static_cast<int>(acts.size()));

    Sync();
    score.Breach(fs::exists(out_() / "ran-1") || fs::exists(out_() / "ran-2") ||
                     CountStartingWith("Task \"") + CountStartingWith("Blocking task") > 0,
                 "a task ran");
    score.Breach(Read(TaskFile()) != tasks, "the task file changed");
    score.Breach(ToldAny("TX"), "a task was deleted");
    score.Breach(Log().empty() || Log().front() != "Tarvok Service starting!" ||
                     Count("System log truncated.") > 0,
                 "the log was cut");
    score.Breach(Count("Task list (re)loaded") != 1, "the task list was reloaded");
    score.Breach(Count("Client has connected.") > 0 || ToldAny("TS"), "a client was let in");
    score.Breach(Count("Client has disconnected.") != syncs_, "a client was let go");

    // Root's own run shows whether the stranger's "TS" got the running task recorded.
    ASSERT_TRUE(SendSlotMessage(ServiceSlotName, "TR 1"));
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(out_() / "ran-1"); }));
    Sync();
    score.Breach(Count("Blocking task \"Mark\" [1] is still active.") > 0,
                 "a process was handed over");
    EXPECT_EQ(Count("Blocking task \"Mark\" [1] started."), 1u);

    const std::string dropped = "Dropped ";
    EXPECT_GE(CountStartingWith(dropped), 1u) << "the drops were not noted";
    EXPECT_TRUE(ServiceRunning());
    EXPECT_EQ(StopService(), 0);
    std::cout << "[ attacks  ] " << score.Report() << '\n';
    EXPECT_TRUE(score.Breaches.empty()) << score.Report();
}

// A directory anyone may write is a mistake of its administrators; what the stranger plants
// there still must not make root run, write or show anything of the stranger's choosing.
TEST_F(AttackTest, WhatAStrangerPlantsInAnOpenDirectoryIsNotUsed) {
    MakeProgramDirectory(0777, 0);
    TScore score;
    const std::string evil = (tools_() / "evil.tsk").string();
    EXPECT_EQ(Intrude(Nobody, {"write", TaskFile().string(), evil}), IntruderDone);
    EXPECT_EQ(Intrude(Nobody, {"link", (vault_() / "secret").string(), LogFile().string()}),
              IntruderDone);
    const char* predictable[] = {"tarvok.tsk.tmp",
                                 "tarvok.log.tmp",
                                 "tarvok.tmp",
                                 "tarvok.cro",
                                 "tarvok.tsk.tmp-0000000000",
                                 "tarvok.log.tmp-0000000000"};
    for (const char* name : predictable) {
        EXPECT_EQ(
            Intrude(Nobody, {"link", (vault_() / "victim").string(), (prog_() / name).string()}),
            IntruderDone)
            << name;
    }
    score.Add(2 + static_cast<int>(std::size(predictable)));

    StartService();
    OpenSlotsToEveryone();
    EXPECT_EQ(Intrude(Nobody, {"send", prog_().string(), "TR 1"}), IntruderDone);
    score.Add(1);
    // Root asks for the planted task by its id, reloads, and deletes it.
    for (const char* message : {"TR 1", "TN 1", "TR 1", "TD 1"}) {
        ASSERT_TRUE(SendSlotMessage(ServiceSlotName, message));
    }
    Sync();

    score.Breach(fs::exists(out_() / "evil") || CountStartingWith("Task \"Evil\"") > 0,
                 "the planted task ran");
    score.Breach(Read(vault_() / "victim") != "victim\n", "a write went through a planted link");
    score.Breach(fs::is_symlink(LogFile()) || Read(LogFile()).find("secret") != std::string::npos,
                 "the log showed the linked file");
    const std::string refusal = "The task file is not trusted (its directory is writable by "
                                "others); no task will run from it.";
    EXPECT_EQ(Count(refusal), 2u) << "once at the start and once for the reload";
    EXPECT_EQ(Count("Invalid command in task \"\" [0]."), 2u);
    EXPECT_EQ(Read(TaskFile()), Read(evil)) << "the refused file was rewritten";
    EXPECT_TRUE(WaitUntil([&] { return ToldAny("TX 0"); }));
    EXPECT_TRUE(ServiceRunning());
    EXPECT_EQ(StopService(), 0);
    std::cout << "[ attacks  ] " << score.Report() << '\n';
    EXPECT_TRUE(score.Breaches.empty()) << score.Report();
}

TEST_F(AttackTest, AdministratorsAreObeyed) {
    const passwd* daemon = ::getpwnam("daemon");
    MakeProgramDirectory(02775, daemon != nullptr ? daemon->pw_gid : 0);
    SaveTasks(TaskFile(),
              {Task(1, "Mark", true, out_() / "ran-1"), Task(2, "Spare", false, out_() / "ran-2")});
    StartService();

    if (daemon != nullptr) { // a member of the directory's group, not root
        EXPECT_EQ(Intrude(daemon->pw_uid, {"send", prog_().string(), "TR 2"}), IntruderDone);
        EXPECT_TRUE(WaitUntil([&] { return fs::exists(out_() / "ran-2"); }))
            << "a member of the directory's group was not heard";
    }
    for (const char* message : {"TR 1", "CR", "TN 2", "TM 1", "TD 2"}) {
        ASSERT_TRUE(SendSlotMessage(ServiceSlotName, message));
    }
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(out_() / "ran-1"); }));
    EXPECT_TRUE(WaitUntil([&] { return ToldAny("TX 2"); }));
    EXPECT_EQ(Read(TaskFile()).size(), TaskDefSize) << "task 2 is still in the file";
    EXPECT_EQ(Count("Client has connected."), 1u);
    EXPECT_EQ(Count("Task list (re)loaded"), 3u);

    ASSERT_TRUE(SendSlotMessage(ServiceSlotName, "LT"));
    EXPECT_TRUE(WaitUntil([&] {
        const auto log = Log();
        return !log.empty() && log.front() == "System log truncated.";
    }));
    EXPECT_EQ(CountStartingWith("Dropped "), 0u);
    EXPECT_EQ(StopService(), 0);
}

// A slot taken before its owner starts, or in the moment between a stop and a start, would make
// the service deaf to the manager, or hand the service's reports to the stranger.
TEST_F(AttackTest, NoStrangerTakesASlot) {
    MakeProgramDirectory(02775, 0);
    SaveTasks(TaskFile(), {Task(1, "Mark", false, out_() / "ran-1")});
    client_.reset(); // the manager starts only after the squatters
    std::vector<pid_t> squatters;
    for (const std::string_view slot : {ServiceSlotName, ClientSlotName}) {
        const std::string name(slot);
        const fs::path output = root_ / ("squat-" + name);
        squatters.push_back(StartIntruder(Nobody, {"squat", prog_().string(), name}, {}, output));
        ASSERT_GT(squatters.back(), 0);
        ASSERT_TRUE(WaitUntil([&] { return Read(output).find("tried") != std::string::npos; }));
    }
    client_.emplace(ClientSlotName);
    EXPECT_FALSE(client_->CreationFailed()) << "the manager's slot was taken";
    StartService();
    ASSERT_NO_FATAL_FAILURE(Sync()) << "the service does not hear root";
    // The squatter of the service's slot keeps trying while the service restarts again and again.
    for (int restart = 0; restart < 5; ++restart) {
        EXPECT_EQ(StopService(), 0);
        StartService();
        ASSERT_NO_FATAL_FAILURE(Sync()) << "deaf after restart " << restart;
    }
    ASSERT_TRUE(SendSlotMessage(ServiceSlotName, "TR 1"));
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(out_() / "ran-1"); }));
    for (std::size_t i = 0; i < squatters.size(); ++i) {
        ::kill(squatters[i], SIGTERM);
        EXPECT_EQ(WaitForProgram(squatters[i]), IntruderRefused)
            << "a stranger held a slot: " << Read(root_ / "intruder.out");
    }
    EXPECT_TRUE(ServiceRunning());
    EXPECT_EQ(StopService(), 0);
}

// Whether this kernel keeps a pid_max per pid namespace (Linux 6.14 on); before it, writing
// pid_max in a namespace would set the whole machine's.
bool PidMaxPerNamespace() {
    utsname name{};
    int major = 0;
    int minor = 0;
    return ::uname(&name) == 0 && std::sscanf(name.release, "%d.%d", &major, &minor) == 2 &&
           (major > 6 || (major == 6 && minor >= 14));
}

// A blocking task ends while the service is paused, and a stranger's process takes its id before
// the service looks again: the run must still count as finished, and the next run must start.
TEST_F(AttackTest, AReusedProcessIdDoesNotHoldABlockingTask) {
    MakeProgramDirectory(02775, 0);
    const fs::path release = out_() / "release";
    ASSERT_EQ(::mkfifo(release.c_str(), 0600), 0);
    TTaskDef hold = Task(1, "Hold", true, out_() / "unused");
    hold.Command = "/bin/sh";
    hold.Parameters = "-c 'read line < " + release.string() + "'";
    SaveTasks(TaskFile(), {hold});
    // The service is the first process of a pid namespace of its own. Where the kernel allows, the
    // namespace hands out ids 300 to 399 only, so a stranger who starts processes there gets an
    // ended task's id back within a hundred; the warm-up moves the ids past 300 first.
    const bool smallPidMax = PidMaxPerNamespace();
    const std::string prelude =
        std::string(smallPidMax ? "echo 400 > /proc/sys/kernel/pid_max && " : "") +
        "i=0; while [ $i -lt 320 ]; do /bin/true; i=$((i + 1)); done; "
        "exec \"$0\"";
    StartService(
        {"unshare", "--pid", "--fork", "--kill-child", "--mount-proc", "sh", "-c", prelude});
    const std::vector<std::string> inside = {"nsenter", "--target", std::to_string(servicePid_),
                                             "--pid",   "--mount",  "--"};

    ASSERT_TRUE(SendSlotMessage(ServiceSlotName, "TR 1"));
    std::uint32_t taskPid = 0;
    ASSERT_TRUE(WaitUntil([&] {
        for (const std::string& told : Told()) {
            if (told.starts_with("TS 1 ")) {
                taskPid = static_cast<std::uint32_t>(std::stoul(told.substr(5)));
            }
        }
        return taskPid != 0;
    }));
    ASSERT_EQ(::kill(servicePid_, SIGUSR1), 0);
    ASSERT_TRUE(WaitUntil([&] { return ToldAny("SP"); })) << "never paused";
    ASSERT_TRUE(Release(release)); // the task reads its line and ends
    if (!smallPidMax) {
        // This kernel would need a wrap of the whole pid space: root points the namespace's next
        // id a few below the task's instead, and the intruder's processes count up from there.
        const std::string gone = "test ! -e /proc/" + std::to_string(taskPid);
        const std::string below =
            "echo " + std::to_string(taskPid - 10) + " > /proc/sys/kernel/ns_last_pid";
        ASSERT_TRUE(WaitUntil([&] { return RunAsRoot(inside, {"sh", "-c", gone}) == 0; }));
        ASSERT_EQ(RunAsRoot(inside, {"sh", "-c", below}), 0);
    }
    ASSERT_EQ(Intrude(Nobody, {"take", std::to_string(taskPid)}, inside), IntruderDone)
        << "the stranger never got the id: " << Read(root_ / "intruder.out");
    const std::string taken = Read(root_ / "intruder.out");
    std::cout << "[ attacks  ] " << taken.substr(std::min(taken.rfind("took "), taken.size()));
    ASSERT_EQ(::kill(servicePid_, SIGUSR2), 0);
    Sync();
    EXPECT_EQ(Count("Blocking task \"Hold\" [1] finished."), 1u) << Read(LogFile());
    EXPECT_TRUE(ToldAny("TF 1 " + std::to_string(taskPid)));

    ASSERT_TRUE(SendSlotMessage(ServiceSlotName, "TR 1"));
    Sync();
    EXPECT_EQ(Count("Blocking task \"Hold\" [1] is still active."), 0u);
    EXPECT_EQ(Count("Blocking task \"Hold\" [1] started."), 2u);
    EXPECT_TRUE(ServiceRunning());
    EXPECT_EQ(StopService(), 0); // the namespace ends with it, and the second run
}

// Who may write a directory above the program directory may put another one in its place.
TEST_F(AttackTest, AProgramDirectoryInAStrangersDirectoryIsNotTrusted) {
    const fs::path parent = root_ / "parent";
    fs::create_directories(parent);
    ASSERT_EQ(::chown(parent.c_str(), Nobody, Nobody), 0);
    ASSERT_EQ(::chmod(parent.c_str(), 0755), 0);
    programDir_ = "parent/prog";
    MakeProgramDirectory(02775, 0);
    SaveTasks(TaskFile(), {Task(1, "Mark", false, out_() / "ran-1")});
    StartService();
    const fs::path moved = parent / "prog.old";

    TScore score;
    const std::string evil = (tools_() / "evil.tsk").string();
    const std::vector<std::vector<std::string>> acts = {
        {"rename", prog_().string(), moved.string()}, {"mkdir", prog_().string()},
        {"write", TaskFile().string(), evil},         {"send", prog_().string(), "TN 1"},
        {"send", prog_().string(), "TR 1"},
    };
    for (const auto& act : acts) {
        Intrude(Nobody, act);
    }
    score.Add(static_cast<int>(acts.size()));
    // Root still reaches the service where its slots went.
    UseSlotsOf(moved);
    ExpectTheStrangersTaskRefused(score);
}

// A default ACL hands write access to every file later made in the directory, whatever its mode.
TEST_F(AttackTest, ADefaultAclGrantingAStrangerWriteIsNotTrusted) {
    MakeProgramDirectory(02775, 0);
    SaveTasks(TaskFile(), {Task(1, "Mark", false, out_() / "ran-1"),
                           Task(2, "Spare", false, out_() / "ran-2")});
    const std::string grant = "u:" + std::to_string(Nobody) + ":rwx";
    if (RunAsRoot({"setfacl", "-d", "-m", grant, prog_().string()}) != 0) {
        GTEST_SKIP() << "setfacl (the acl package) cannot set a default ACL here: "
                     << Read(root_ / "root.out");
    }
    StartService();
    // Root deletes a task: the service saves the task file anew, in the directory.
    ASSERT_TRUE(SendSlotMessage(ServiceSlotName, "TD 2"));
    ASSERT_TRUE(WaitUntil([&] { return ToldAny("TX"); }));
    TScore score;
    const std::string evil = (tools_() / "evil.tsk").string();
    Intrude(Nobody, {"write", TaskFile().string(), evil});
    score.Add(1);
    ExpectTheStrangersTaskRefused(score);
}

} // namespace
} // namespace tarvok

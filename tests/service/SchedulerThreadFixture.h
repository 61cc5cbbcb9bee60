// A scheduler thread in a program directory of its own, driven pass by pass: its clock is held
// still between passes, its processes are fakes, and the test plays the manager's side of its
// slots. The thread is never resumed; each Pass runs one pass on the test's thread.
//
//   SaveTasks({DailyJob(1, "Backup", true, 10, 16)});
//   Start(At(10, 15, 40));
//   Pass(At(10, 16, 0), {"CR"});
//   EXPECT_THAT(Told(), ElementsAre("TS 1 1000"));
#pragma once

#include "service/SvcThd.h"
#include "tests/FakeProcesses.h"
#include "tests/TempDir.h"
#include "tests/service/FakeChannel.h"

#include <deque>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace tarvok::testing_support {

// A moment of 8 December 2026.
inline TDateTime At(int hour, int minute, int second, int millisecond = 0) {
    return EncodeDate(2026, 12, 8) + EncodeTime(hour, minute, second, millisecond);
}

class TSchedulerThreadFixture : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        // The thread trusts no task file in a directory that others may write.
        std::filesystem::permissions(dir_, std::filesystem::perms(0755));
        paths_ = ProgramPathsFor(Path("TarvokSvc"));
    }
    void TearDown() override {
        thread_.reset();
        TempDirTest::TearDown();
    }

    void SaveTasks(std::initializer_list<TTaskDef> tasks) const {
        TTaskList list;
        for (TTaskDef task : tasks) {
            list.AddTask(task, false);
        }
        list.SaveToFile(paths_.TaskPath);
    }

    // Creates the thread as the service host does, at the moment given.
    void Start(TDateTime now) {
        clock_.Set(now);
        thread_ = std::make_unique<TTarvokThread>(TTarvokThread::TSetup{
            paths_, clock_, processes_, std::make_unique<TFakeChannel>(inbox_, sent_, &refused_)});
    }

    // One pass at the moment given, after the messages have arrived.
    void Pass(TDateTime now, std::initializer_list<std::string> messages = {}) {
        inbox_.insert(inbox_.end(), messages);
        clock_.Set(now);
        thread_->Poll();
    }

    // The log's messages without their time stamps.
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        for (const std::string& line : SplitLogLines(Read(paths_.LogPath))) {
            messages.push_back(line.substr(line.find(" : ") + 3));
        }
        return messages;
    }

    // What went to the manager, "LC" left out.
    std::vector<std::string> Told() const {
        std::vector<std::string> told;
        for (const std::string& message : sent_) {
            if (message != "LC") {
                told.push_back(message);
            }
        }
        return told;
    }

    TProgramPaths paths_;
    TFixedClock clock_;
    TFakeProcesses processes_;
    std::deque<std::string> inbox_;
    std::vector<std::string> sent_;
    std::size_t refused_ = 0; // messages the slot refused since the last pass
    std::unique_ptr<TTarvokThread> thread_;
};

} // namespace tarvok::testing_support

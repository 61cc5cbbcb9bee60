#include "platform/Files.h"
#include "shared/TaskDef.h"
#include "tests/TempDir.h"

#include <csignal>
#include <cstring>
#include <limits>
#include <random>
#include <sys/resource.h>

namespace tarvok {
namespace {

using platform::TIoError;

class TaskFile : public testing_support::TempDirTest {};

TTaskDef Sample(const std::string& name) {
    TTaskDef task = TTaskDef::New();
    task.Name = name;
    task.Command = "/usr/bin/" + name;
    task.Schedule.DailyEvery = 1;
    task.Schedule.StartDate = EncodeDate(2001, 3, 5);
    return task;
}

std::string EncodedFile(const std::vector<TTaskDef>& tasks) {
    std::string bytes;
    for (const TTaskDef& task : tasks) {
        TTaskDefBytes record;
        EncodeTask(task, record);
        bytes.append(record.begin(), record.end());
    }
    return bytes;
}

// Ids are stored as they are, duplicates from a damaged list included.
TEST_F(TaskFile, SavesAndLoadsRecordsInOrderWithTheirIds) {
    TTaskList list;
    std::vector<TTaskDef> tasks = {Sample("b"), Sample("a"), Sample("c")};
    tasks[0].Id = tasks[1].Id = 5;
    list.AddTask(tasks[0], false);
    list.AddTask(tasks[1], false);
    list.AddTask(tasks[2], true);
    const std::string path = Path("tarvok.tsk");
    list.SaveToFile(path);

    const std::string bytes = Read(path);
    EXPECT_EQ(bytes.size(), 1488u);
    EXPECT_EQ(bytes, EncodedFile(tasks));
    EXPECT_EQ(EntriesInDir(), 1u) << "a temporary file was left behind";

    TTaskList loaded;
    loaded.AddTask(tasks[0], false); // loading replaces, never appends
    loaded.LoadFromFile(path);
    ASSERT_EQ(loaded.Count(), 3u);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        EXPECT_EQ(loaded.GetTask(i), tasks[i]) << "position " << i;
    }
    EXPECT_EQ(loaded.GetTask(2).Id, 1);
}

TEST_F(TaskFile, EmptyListDeletesTheFileAndCreatesNone) {
    const std::string path = Path("tarvok.tsk");
    Write(path, EncodedFile({Sample("old")}));
    TTaskList empty;
    empty.SaveToFile(path);
    EXPECT_FALSE(platform::FileExists(path));
    empty.SaveToFile(path);
    EXPECT_EQ(EntriesInDir(), 0u);

    // Nothing to delete there: ignored, not raised.
    std::filesystem::create_directory(path);
    EXPECT_NO_THROW(empty.SaveToFile(path));
    EXPECT_NO_THROW(empty.SaveToFile(Path("missing/tarvok.tsk")));
}

TEST_F(TaskFile, IncompleteLastRecordKeepsTheCompleteOnesAndRaises) {
    const std::string path = Path("tarvok.tsk");
    Write(path, EncodedFile({Sample("whole")}) + std::string(4, '\x01'));
    TTaskList list;
    try {
        list.LoadFromFile(path);
        FAIL() << "no error raised";
    } catch (const TIoError& error) {
        EXPECT_EQ(error.Path(), path);
        EXPECT_EQ(error.Reason(), "Read beyond end of file");
    }
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.GetTask(0).Name, "whole");

    EXPECT_THROW(list.LoadFromFile(Path("absent")), TIoError);
    EXPECT_EQ(list.Count(), 0u);
}

// Makes every write that would grow a file past a size fail with EFBIG (root included) for
// the guard's lifetime.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int);
};

TEST_F(TaskFile, FailedSaveLeavesThePreviousFileWhole) {
    const std::string path = Path("tarvok.tsk");
    const std::string previous = EncodedFile({Sample("previous")});
    Write(path, previous);
    TTaskList list;
    for (const char* name : {"a", "b", "c"}) {
        TTaskDef task = Sample(name);
        list.AddTask(task, true);
    }
    bool raised = false;
    {
        TFileSizeLimit limit(1000); // the new content is 1488 bytes
        try {
            list.SaveToFile(path);
        } catch (const TIoError&) {
            raised = true;
        }
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(Read(path), previous);
    EXPECT_EQ(EntriesInDir(), 1u) << "a temporary file was left behind";

    std::filesystem::remove(path);
    std::filesystem::create_directories(path + "/inside");
    EXPECT_THROW(list.SaveToFile(path), TIoError);
    EXPECT_TRUE(std::filesystem::is_directory(path + "/inside"));
    EXPECT_THROW(list.SaveToFile(Path("missing/tarvok.tsk")), TIoError);
    EXPECT_EQ(EntriesInDir(), 1u);
}

// Damaged files must load and feed the scheduler and the description without undefined
// behaviour; the sanitizer build runs this with every check on.
TEST_F(TaskFile, RandomBytesLoadAndScheduleSafely) {
    std::mt19937 random(20010305);
    const auto byte = [&random] { return static_cast<std::uint8_t>(random()); };
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                               -std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::signaling_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::max(),
                               -std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::denorm_min(),
                               -0.0,
                               1e300,
                               -693594.5,
                               2958465.9999999,
                               2958466.0,
                               0.99999999999,
                               -1.25};
    const std::size_t doubleOffsets[] = {444, 460, 468, 480, 488};
    const std::string path = Path("tarvok.tsk");

    for (int file = 0; file < 3000; ++file) {
        std::string bytes(random() % (4 * TaskDefSize + 100), '\0');
        for (char& c : bytes) {
            c = static_cast<char>(byte());
        }
        // Half the records get plausible codes and counts so the deeper branches run too.
        for (std::size_t at = 0; at + TaskDefSize <= bytes.size(); at += TaskDefSize) {
            if (random() % 2) {
                for (std::size_t code : {412u, 413u, 436u, 437u, 456u}) {
                    bytes[at + code] = static_cast<char>(random() % 6);
                }
                for (std::size_t count : {416u, 420u, 428u, 432u, 440u, 452u}) {
                    const std::int32_t value = static_cast<std::int32_t>(random() % 70) - 3;
                    std::memcpy(&bytes[at + count], &value, sizeof value);
                }
            }
            for (std::size_t offset : doubleOffsets) {
                if (random() % 3 == 0) {
                    const double value = specials[random() % std::size(specials)];
                    std::memcpy(&bytes[at + offset], &value, sizeof value);
                }
            }
        }
        Write(path, bytes);

        TTaskList list;
        if (bytes.size() % TaskDefSize == 0) {
            ASSERT_NO_THROW(list.LoadFromFile(path)) << "file " << file;
        } else {
            ASSERT_THROW(list.LoadFromFile(path), TIoError) << "file " << file;
        }
        ASSERT_EQ(list.Count(), bytes.size() / TaskDefSize);

        for (std::size_t i = 0; i < list.Count(); ++i) {
            const TTaskDef task = list.GetTask(i);
            const TScheDef& s = task.Schedule;
            for (double moment : {EncodeDate(2001, 3, 5) + EncodeTime(10, 0), 0.0, s.StartDate,
                                  s.StartDate + s.OnceAt, s.EndDate, s.BetweenEnd}) {
                IsDue(s, moment);
            }
            std::vector<std::string> lines;
            DescribeSchedule(s, lines);
            ASSERT_EQ(lines.size(), 3u);
            const std::string start =
                DateTimeText(TDateOrder::DayMonthNameYear, '-', ':', s.StartDate, " ", true);
            ASSERT_TRUE(start.empty() || start.size() == 20) << start;

            // What was read writes back as it was read.
            TTaskDefBytes once, twice;
            EncodeTask(task, once);
            EncodeTask(DecodeTask(once), twice);
            ASSERT_EQ(once, twice);
        }
    }
}

} // namespace
} // namespace tarvok

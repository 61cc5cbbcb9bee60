// The conversion of task files of earlier versions, as the manager runs it at start-up: the
// in-place upgrade to the later form, then the conversion into the task file, over a stale task
// file. Input: the bytes of an old file.
#include "fuzz/FuzzSupport.h"
#include "manager/Update.h"
#include "platform/Files.h"
#include "shared/TaskDef.h"

#include <filesystem>
#include <iterator>
#include <string>

namespace tarvok {
namespace {

using fuzzing::Require;

void CheckConvertedTask(const TTaskDef& task, std::size_t position) {
    Require(task.Id == static_cast<std::int32_t>(position + 1),
            "converted tasks are not numbered 1, 2, 3... in file order");
    Require(task.Priority == NormalPriority, "a converted task is not of Normal priority");
    Require(!IsDefined(task.Schedule), "a converted task has a schedule");
    for (const std::string* text : {&task.Name, &task.Command, &task.Parameters, &task.WorkDir}) {
        Require(text->size() <= TaskTextMax, "a converted text is longer than its field");
    }
}

} // namespace
} // namespace tarvok

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvok;
    using fuzzing::ReadScratchFile;
    using fuzzing::Require;

    fuzzing::ClearScratchDir();
    const std::string oldPath = fuzzing::ScratchDir() + "tarvok.crn";
    const std::string taskPath = fuzzing::ScratchDir() + "tarvok.tsk";
    fuzzing::WriteScratchFile(oldPath, fuzzing::AsText(data, size));

    AddParameterLines(oldPath);
    const std::string upgraded = ReadScratchFile(oldPath);
    AddParameterLines(oldPath);
    Require(ReadScratchFile(oldPath) == upgraded, "a file in the later form was upgraded again");

    // Not a whole record: it must be replaced, or deleted when there is nothing to convert.
    fuzzing::WriteScratchFile(taskPath, "stale");
    ConvertLegacyFile(oldPath, taskPath);
    Require(ReadScratchFile(oldPath) == upgraded, "the conversion changed the old file");

    TTaskList list;
    if (platform::FileExists(taskPath)) {
        try {
            list.LoadFromFile(taskPath);
        } catch (const platform::TIoError&) {
            Require(false, "the stale task file was neither replaced nor deleted");
        }
        Require(list.Count() > 0, "a task file without tasks was left");
    }
    // A block needs twelve lines, each but the last ended by at least one byte.
    Require(list.Count() <= upgraded.size() / 12 + 1, "more tasks than the file has blocks");
    for (std::size_t i = 0; i < list.Count(); ++i) {
        CheckConvertedTask(list.GetTask(i), i);
    }
    const auto entries = std::distance(std::filesystem::directory_iterator(fuzzing::ScratchDir()),
                                       std::filesystem::directory_iterator{});
    Require(entries == (list.Count() > 0 ? 2 : 1), "a temporary file was left behind");
    return 0;
}

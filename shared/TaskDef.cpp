#include "shared/TaskDef.h"

#include "platform/Files.h"
#include "shared/RecordBytes.h"

#include <algorithm>
#include <stdexcept>

namespace tarvok {

namespace {

constexpr std::size_t OffId = 0;
constexpr std::size_t OffName = 4;
constexpr std::size_t OffCommand = 105;
constexpr std::size_t OffParameters = 206;
constexpr std::size_t OffWorkDir = 307;
constexpr std::size_t OffEnabled = 408;
constexpr std::size_t OffBlocking = 409;
constexpr std::size_t OffVisible = 410;
constexpr std::size_t OffPriority = 411;
constexpr std::size_t OffSchedule = 412;

static_assert(OffSchedule + ScheDefSize == TaskDefSize);
static_assert(OffWorkDir + 1 + TaskTextMax == OffEnabled);

std::string Cut(std::string text) {
    if (text.size() > TaskTextMax) {
        text.resize(TaskTextMax);
    }
    return text;
}

TTaskDef Stored(TTaskDef task) {
    task.Name = Cut(std::move(task.Name));
    task.Command = Cut(std::move(task.Command));
    task.Parameters = Cut(std::move(task.Parameters));
    task.WorkDir = Cut(std::move(task.WorkDir));
    return task;
}

void PutText(std::span<std::uint8_t> out, std::size_t offset, const std::string& text) {
    const std::size_t length = std::min(text.size(), TaskTextMax);
    out[offset] = static_cast<std::uint8_t>(length);
    std::copy_n(text.begin(), length, out.begin() + static_cast<std::ptrdiff_t>(offset + 1));
}

std::string GetText(std::span<const std::uint8_t> in, std::size_t offset) {
    const std::size_t length = std::min<std::size_t>(in[offset], TaskTextMax);
    return std::string(reinterpret_cast<const char*>(in.data() + offset + 1), length);
}

} // namespace

TTaskDef TTaskDef::New() {
    TTaskDef task;
    task.Visible = true;
    task.Priority = NormalPriority;
    return task;
}

std::string TaskCaption(const TTaskDef& task) {
    return task.Name + " [" + std::to_string(task.Id) + "]";
}

void EncodeTask(const TTaskDef& task, std::span<std::uint8_t, TaskDefSize> out) {
    using namespace record;
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    Put(out, OffId, task.Id);
    PutText(out, OffName, task.Name);
    PutText(out, OffCommand, task.Command);
    PutText(out, OffParameters, task.Parameters);
    PutText(out, OffWorkDir, task.WorkDir);
    PutBool(out, OffEnabled, task.Enabled);
    PutBool(out, OffBlocking, task.Blocking);
    PutBool(out, OffVisible, task.Visible);
    Put(out, OffPriority, task.Priority);
    EncodeScheDef(task.Schedule, out.subspan<OffSchedule, ScheDefSize>());
}

TTaskDef DecodeTask(std::span<const std::uint8_t, TaskDefSize> in) {
    using namespace record;
    TTaskDef task;
    task.Id = Get<std::int32_t>(in, OffId);
    task.Name = GetText(in, OffName);
    task.Command = GetText(in, OffCommand);
    task.Parameters = GetText(in, OffParameters);
    task.WorkDir = GetText(in, OffWorkDir);
    task.Enabled = GetBool(in, OffEnabled);
    task.Blocking = GetBool(in, OffBlocking);
    task.Visible = GetBool(in, OffVisible);
    task.Priority = Get<std::uint8_t>(in, OffPriority);
    task.Schedule = DecodeScheDef(in.subspan<OffSchedule, ScheDefSize>());
    return task;
}

// The smallest positive id not in use is at most Count() + 1, so one pass over the entries
// marking the ids in 1 .. Count() + 1 finds it without rescanning the list for every candidate.
std::int32_t TTaskList::SmallestFreeId() const {
    std::vector<bool> used(tasks_.size() + 2, false);
    for (const TTaskDef& task : tasks_) {
        if (task.Id > 0 && static_cast<std::size_t>(task.Id) < used.size()) {
            used[static_cast<std::size_t>(task.Id)] = true;
        }
    }
    const auto free = std::find(used.begin() + 1, used.end(), false);
    return static_cast<std::int32_t>(free - used.begin());
}

std::int32_t TTaskList::AddTask(TTaskDef& record, bool assignId) {
    if (assignId) {
        record.Id = SmallestFreeId();
    }
    tasks_.push_back(Stored(record));
    return record.Id;
}

TTaskDef TTaskList::GetTask(std::size_t position) const {
    return tasks_.at(position);
}

TTaskDef TTaskList::FindTask(std::int32_t id) const {
    const auto found =
        std::find_if(tasks_.begin(), tasks_.end(), [id](const TTaskDef& t) { return t.Id == id; });
    return found == tasks_.end() ? TTaskDef{} : *found;
}

void TTaskList::DeleteTask(const TTaskDef& record) {
    const auto found = std::find_if(tasks_.begin(), tasks_.end(),
                                    [&record](const TTaskDef& t) { return t.Id == record.Id; });
    if (found != tasks_.end()) {
        tasks_.erase(found);
    }
}

void TTaskList::DeleteAt(std::size_t position) {
    if (position >= tasks_.size()) {
        throw std::out_of_range("task position out of range");
    }
    tasks_.erase(tasks_.begin() + static_cast<std::ptrdiff_t>(position));
}

void TTaskList::Exchange(std::size_t a, std::size_t b) {
    std::swap(tasks_.at(a), tasks_.at(b));
}

void TTaskList::LoadFromFile(const std::string& path) {
    Clear();
    LoadFromBytes(platform::ReadFile(path), path);
}

void TTaskList::LoadFromBytes(std::string_view content, const std::string& path) {
    Clear();
    const auto bytes =
        std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    const std::size_t complete = bytes.size() / TaskDefSize;
    tasks_.reserve(complete);
    // Appended as AddTask without id assignment would, minus a copy: decoded texts are short.
    for (std::size_t i = 0; i < complete; ++i) {
        tasks_.push_back(DecodeTask(bytes.subspan(i * TaskDefSize).first<TaskDefSize>()));
    }
    if (bytes.size() % TaskDefSize != 0) {
        throw platform::TIoError(path, "Read beyond end of file");
    }
}

void TTaskList::SaveToFile(const std::string& path) const {
    if (tasks_.empty()) {
        try {
            platform::RemoveFile(path);
        } catch (const platform::TIoError&) {
            // Ignored on purpose: saving an empty list never fails for its callers, and a file
            // left behind still holds whole records only.
        }
        return;
    }
    std::string content(tasks_.size() * TaskDefSize, '\0');
    auto bytes = std::span(reinterpret_cast<std::uint8_t*>(content.data()), content.size());
    for (std::size_t i = 0; i < tasks_.size(); ++i) {
        EncodeTask(tasks_[i], bytes.subspan(i * TaskDefSize).first<TaskDefSize>());
    }
    platform::ReplaceFile(path, content);
}

} // namespace tarvok

#include "manager/TaskCmds.h"

#include "manager/Edit.h"
#include "manager/Prompts.h"
#include "manager/TaskProp.h"
#include "manager/Texts.h"
#include "platform/Files.h"
#include "shared/TaskEdits.h"

namespace tarvok {

namespace {

// Holds the minute tick for as long as it lives.
class TTickHold {
public:
    explicit TTickHold(const std::function<void(bool)>& hold) : hold_(hold) {
        if (hold_) {
            hold_(true);
        }
    }
    ~TTickHold() {
        if (hold_) {
            hold_(false);
        }
    }
    TTickHold(const TTickHold&) = delete;
    TTickHold& operator=(const TTickHold&) = delete;

private:
    const std::function<void(bool)>& hold_;
};

} // namespace

TTaskCommands::TTaskCommands(TTaskList& tasks, TProcessTable& table, std::string taskPath,
                             TPrompts& prompts, const TClock& clock, const TPathView& paths,
                             TTaskCommandHooks hooks)
    : tasks_(tasks), table_(table), taskPath_(std::move(taskPath)), prompts_(prompts),
      clock_(clock), paths_(paths), hooks_(std::move(hooks)) {}

std::optional<TTaskDef> TTaskCommands::NewTask(QWidget* parent) {
    TDlgEdit editor(prompts_, clock_, paths_, parent);
    editor.Task = TTaskDef::New();
    if (prompts_.Run(editor) != QDialog::Accepted) {
        return std::nullopt;
    }
    TTaskDef record = editor.Task;
    return AddTask(parent, record) ? std::optional<TTaskDef>(record) : std::nullopt;
}

std::optional<TTaskDef> TTaskCommands::EditTask(QWidget* parent, std::size_t position,
                                                const TTaskDef& selected) {
    TDlgEdit editor(prompts_, clock_, paths_, parent);
    editor.Task = selected;
    if (prompts_.Run(editor) != QDialog::Accepted) {
        return std::nullopt;
    }
    const TTaskDef record = editor.Task;
    return ReplaceTask(parent, position, record) ? std::optional<TTaskDef>(record) : std::nullopt;
}

TDeleteOutcome TTaskCommands::DeleteSelectedTask(QWidget* parent, const TTaskDef& selected) {
    const TTickHold hold(hooks_.HoldMinuteTick);
    const TTaskRunEntry* entry = table_.Find(selected.Id);
    if (entry != nullptr && entry->ProcessId != 0) {
        prompts_.Show(parent, TBoxKind::Error,
                      QStringLiteral("Blocking Task \"%1\" [%2] is running.")
                          .arg(ShownText(selected.Name), QString::number(selected.Id)));
        return TDeleteOutcome::Refused;
    }
    if (!prompts_.Ask(parent,
                      QStringLiteral("Delete task \"%1\"?").arg(ShownText(selected.Name)))) {
        return TDeleteOutcome::Kept;
    }
    if (hooks_.ServiceMode && hooks_.ServiceMode()) {
        Tell(TMessageCode::DeleteTask, selected.Id);
        return TDeleteOutcome::Requested;
    }
    return RemoveTask(parent, selected) ? TDeleteOutcome::Removed : TDeleteOutcome::Failed;
}

void TTaskCommands::ShowTaskProperties(QWidget* parent, const TTaskDef& selected) {
    TDlgTaskProps properties(clock_, parent);
    properties.Task = selected;
    if (const TTaskRunEntry* entry = table_.Find(selected.Id)) {
        properties.RunState = *entry;
    }
    if (hooks_.RecentRuns) {
        properties.LastRuns = hooks_.RecentRuns(selected.Id);
    }
    prompts_.Run(properties);
}

bool TTaskCommands::AddTask(QWidget* parent, TTaskDef& record) {
    TTaskList changed = tasks_;
    TTaskDef added = record;
    const std::int32_t id = AddNewTask(changed, added);
    if (!Commit(parent, changed)) {
        return false;
    }
    record = added;
    table_.Append(record);
    Tell(TMessageCode::TaskAdded, id);
    return true;
}

bool TTaskCommands::ReplaceTask(QWidget* parent, std::size_t position, const TTaskDef& record) {
    TTaskList changed = tasks_;
    if (!tarvok::ReplaceTask(changed, position, record)) {
        prompts_.Show(parent, TBoxKind::Error,
                      QStringLiteral("Task \"%1\" [%2] no longer exists; the changes were not "
                                     "saved.")
                          .arg(ShownText(record.Name), QString::number(record.Id)));
        return false;
    }
    if (!Commit(parent, changed)) {
        return false;
    }
    Tell(TMessageCode::TaskChanged, record.Id);
    return true;
}

bool TTaskCommands::RemoveTask(QWidget* parent, const TTaskDef& task) {
    TTaskList changed = tasks_;
    changed.DeleteTask(task);
    if (!Commit(parent, changed)) {
        return false;
    }
    table_.Remove(task.Id);
    return true;
}

bool TTaskCommands::Commit(QWidget* parent, const TTaskList& changed) {
    try {
        CommitTaskList(tasks_, changed, taskPath_);
    } catch (const platform::TIoError& error) {
        prompts_.Show(parent, TBoxKind::Error,
                      QStringLiteral("Could not save the task file \"%1\": %2\r\n"
                                     "Nothing was changed.")
                          .arg(ShownText(error.Path()), ShownText(error.Reason())));
        return false;
    }
    return true;
}

void TTaskCommands::Tell(TMessageCode code, std::int32_t taskId) {
    if (hooks_.ServiceMode && hooks_.ServiceMode() && hooks_.Send) {
        hooks_.Send(code, taskId);
    }
}

} // namespace tarvok

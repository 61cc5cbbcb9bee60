// The main window as the scheduling tests see it: every call the scheduler makes on it, in
// order, with the state it leaves.
#pragma once

#include "manager/Scheduler.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tarvok::testing_support {

class TFakeSchedulerWindow final : public TSchedulerWindow, public TLogDisplay {
public:
    // "image 1 3", "remove 2", "state Red 1 <note>", "failed 3 <text>", "ask <text>",
    // "error <text>", "log reloaded"
    // (the clock and run panels are kept apart: they change every second).
    std::vector<std::string> Events;
    std::string Panels[2];
    TServiceLight Light = TServiceLight::Red;
    int TrayImage = -1;
    std::string TipNote;
    std::map<std::int32_t, int> Images;
    std::deque<bool> Answers; // empty: No
    std::vector<std::string> MessageList;

    void SetStatusText(int panel, const std::string& text) override { Panels[panel] = text; }
    void ShowServiceState(TServiceLight light, int trayImage, const std::string& tipNote) override {
        Light = light;
        TrayImage = trayImage;
        TipNote = tipNote;
        static const char* const names[] = {"Red", "Green", "Yellow"};
        Events.push_back("state " + std::string(names[static_cast<int>(light)]) + " " +
                         std::to_string(trayImage) + (tipNote.empty() ? "" : " " + tipNote));
    }
    void SetTaskImage(std::int32_t taskId, int image) override {
        Images[taskId] = image;
        Events.push_back("image " + std::to_string(taskId) + " " + std::to_string(image));
    }
    void RemoveTaskNode(const TTaskDef& task) override {
        Events.push_back("remove " + std::to_string(task.Id));
    }
    void NotifyRunFailed(std::int32_t taskId, const std::string& text) override {
        Events.push_back("failed " + std::to_string(taskId) + " " + text);
    }
    bool Ask(const std::string& text) override {
        Events.push_back("ask " + text);
        if (Answers.empty()) {
            return false;
        }
        const bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    void ShowError(const std::string& text) override { Events.push_back("error " + text); }

    // The message list.
    std::size_t Count() const override { return MessageList.size(); }
    void Append(const std::string& line) override { MessageList.push_back(line); }
    void DeleteFirst() override { MessageList.erase(MessageList.begin()); }
    void Clear() override {
        MessageList.clear();
        Events.push_back("log reloaded");
    }
    void SelectLastThenNone() override {}
};

} // namespace tarvok::testing_support

// Prompts answered by the test: every box is recorded, questions and file dialogs take their
// answers from queues the test fills (an empty queue answers No, or Cancel), and a dialog of the
// manager's own is handed to the test's OnRun, which plays the user and gives the result (none:
// the dialog is cancelled).
#pragma once

#include "manager/Prompts.h"

#include <QDialog>
#include <deque>
#include <functional>
#include <vector>

namespace tarvok::testing_support {

class TFakePrompts final : public TPrompts {
public:
    struct TShown {
        TBoxKind Kind;
        QString Text;
    };

    std::vector<TShown> Shown;
    std::vector<QString> Asked;
    std::deque<bool> Answers;
    std::deque<std::optional<QString>> ChosenFiles;
    std::vector<TOpenFileRequest> OpenRequests;
    std::vector<TSaveFileRequest> SaveRequests;
    std::function<int(QDialog&)> OnRun;
    // Runs while a question is open, before it is answered.
    std::function<void()> WhileAsked;
    int DialogsRun = 0;

    void Show(QWidget*, TBoxKind kind, const QString& text) override {
        Shown.push_back({kind, text});
    }
    bool Ask(QWidget*, const QString& text) override {
        Asked.push_back(text);
        if (WhileAsked) {
            WhileAsked();
        }
        return Take(Answers, false);
    }
    std::optional<QString> OpenFile(QWidget*, const TOpenFileRequest& request) override {
        OpenRequests.push_back(request);
        return Take(ChosenFiles, std::optional<QString>());
    }
    std::optional<QString> SaveFile(QWidget*, const TSaveFileRequest& request) override {
        SaveRequests.push_back(request);
        return Take(ChosenFiles, std::optional<QString>());
    }

    int Run(QDialog& dialog) override {
        ++DialogsRun;
        return OnRun ? OnRun(dialog) : QDialog::Rejected;
    }

    // The text of the last box shown, or an empty text.
    QString LastShown() const { return Shown.empty() ? QString() : Shown.back().Text; }

private:
    template <typename T>
    static T Take(std::deque<T>& queue, T otherwise) {
        // Assigned into a live value: g++ 12 takes a moved-into optional<QString> for one that
        // may be uninitialised.
        T answer = std::move(otherwise);
        if (!queue.empty()) {
            answer = std::move(queue.front());
            queue.pop_front();
        }
        return answer;
    }
};

} // namespace tarvok::testing_support

// Prompts answered by the test: every box is recorded, questions and file dialogs take their
// answers from queues the test fills (an empty queue answers No, or Cancel).
#pragma once

#include "manager/Prompts.h"

#include <deque>
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

    void Show(QWidget*, TBoxKind kind, const QString& text) override {
        Shown.push_back({kind, text});
    }
    bool Ask(QWidget*, const QString& text) override {
        Asked.push_back(text);
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

    // The text of the last box shown, or an empty text.
    QString LastShown() const { return Shown.empty() ? QString() : Shown.back().Text; }

private:
    template <typename T>
    static T Take(std::deque<T>& queue, T otherwise) {
        if (queue.empty()) {
            return otherwise;
        }
        T answer = std::move(queue.front());
        queue.pop_front();
        return answer;
    }
};

} // namespace tarvok::testing_support

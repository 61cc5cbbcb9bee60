// The next starts of a schedule under the dialogs' controls: five lines in a framed box that is
// sized once for the longest line it can show, so the dialog keeps its size as the lines change.
//
//   TNextRunsView view(dialog);
//   view.ShowRuns(NextRuns(schedule, clock.Now(), NextRunsShown));
//   view.ShowHint(tr("Enter every number to see the next runs."));
#pragma once

#include "shared/NextRuns.h"

#include <QLabel>

namespace tarvok {

// How many starts the dialogs show.
inline constexpr int NextRunsShown = 5;

class TNextRunsView final : public QLabel {
    Q_OBJECT
public:
    explicit TNextRunsView(QWidget* parent = nullptr);

    // One line per start (times in the user's long time format), and why no more came.
    void ShowRuns(const TNextRuns& runs);
    // In place of the starts when the inputs do not make a schedule yet.
    void ShowHint(const QString& hint);

protected:
    void changeEvent(QEvent* event) override;

private:
    void FitLongestLine();
};

} // namespace tarvok

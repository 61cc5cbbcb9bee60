#include "manager/SchedEd.h"

#include "manager/CountBox.h"
#include "manager/NextRunsView.h"
#include "manager/Prompts.h"
#include "shared/TaskRules.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <array>

namespace tarvok {

namespace {

constexpr std::array<const char*, 7> DayBoxes = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<const char*, 7> DayNames = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                 "Friday", "Saturday", "Sunday"};
constexpr std::array<const char*, 5> Occurrences = {"First", "Second", "Third", "Fourth", "Last"};

QDate DateOf(TDateTime moment) {
    const auto parts = DecodeDateTime(moment);
    return parts ? QDate(parts->Year, parts->Month, parts->Day) : QDate();
}

TDateTime DayOf(const QDate& date) {
    return EncodeDate(date.year(), date.month(), date.day());
}

QTime TimeOf(TDateTime moment) {
    const auto parts = DecodeDateTime(moment);
    return parts ? QTime(parts->Hour, parts->Minute, parts->Second, parts->Millisecond) : QTime();
}

TDateTime TimeValue(const QTime& time) {
    return EncodeTime(time.hour(), time.minute(), time.second(), time.msec());
}

// Sets a picker as the dialog does itself: its change handler is for the user's changes.
void SetDate(QDateEdit* picker, const QDate& date) {
    const QSignalBlocker quiet(picker);
    if (date.isValid()) {
        picker->setDate(date);
    }
}

void SetTime(QTimeEdit* picker, const QTime& time) {
    const QSignalBlocker quiet(picker);
    if (time.isValid()) {
        picker->setTime(time);
    }
}

void Select(QComboBox* list, int position) {
    if (position >= 0 && position < list->count()) {
        list->setCurrentIndex(position);
    }
}

QTimeEdit* TimePicker(QWidget* parent) {
    auto* picker = new QTimeEdit(parent);
    picker->setDisplayFormat(QStringLiteral("HH:mm"));
    picker->setKeyboardTracking(false);
    return picker;
}

QDateEdit* DatePicker(QWidget* parent) {
    auto* picker = new QDateEdit(parent);
    picker->setCalendarPopup(true);
    picker->setKeyboardTracking(false);
    // Qt's hint leaves out the margins inside the box: "10 Mar 2026" would lose its last digit.
    picker->setMinimumWidth(picker->sizeHint().width() +
                            2 * picker->fontMetrics().averageCharWidth());
    return picker;
}

QComboBox* DropDown(const auto& items, QWidget* parent) {
    auto* list = new QComboBox(parent);
    for (const char* item : items) {
        list->addItem(QString::fromLatin1(item));
    }
    return list;
}

void Enable(std::initializer_list<QWidget*> widgets, bool enabled) {
    for (QWidget* widget : widgets) {
        widget->setEnabled(enabled);
    }
}

} // namespace

TDlgTaskEd::TDlgTaskEd(TPrompts& prompts, const TClock& clock, QWidget* parent)
    : TFormDialog(parent), prompts_(prompts), clock_(clock) {
    setObjectName(QStringLiteral("TDlgTaskEd"));
    BuildControls();
    Connect();

    cbMOcc->setCurrentIndex(0);
    cbMDay->setCurrentIndex(0);
    cbOTimeUnit->setCurrentIndex(0);
    pgcOcc->setCurrentIndex(0);
    Schedule = TScheDef{};
    const QDate today = DateOf(clock_.Now());
    SetDate(dtpDurStart, today);
    SetDate(dtpDurEnd, today);
    UpdateCaption();
    UpdateNextRuns();
}

void TDlgTaskEd::BuildControls() {
    gbOccurrence = new QGroupBox(tr("Occurence"), this);
    pgcOcc = new QTabWidget(gbOccurrence);

    auto* tbsDaily = new QWidget;
    edDDays = new TCountBox(CountLowest, CountHighest, tbsDaily);
    auto* daily = new QHBoxLayout(tbsDaily);
    daily->addWidget(new QLabel(tr("Every"), tbsDaily));
    daily->addWidget(edDDays);
    daily->addWidget(new QLabel(tr("day(s)"), tbsDaily));
    daily->addStretch();
    pgcOcc->addTab(tbsDaily, tr(" Daily"));

    auto* tbsWeekly = new QWidget;
    edWWeeks = new TCountBox(CountLowest, CountHighest, tbsWeekly);
    auto* weekly = new QGridLayout(tbsWeekly);
    auto* every = new QHBoxLayout;
    every->addWidget(new QLabel(tr("Every"), tbsWeekly));
    every->addWidget(edWWeeks);
    every->addWidget(new QLabel(tr("week(s)"), tbsWeekly));
    every->addStretch();
    weekly->addLayout(every, 0, 0, 1, 4);
    weekly->addWidget(new QLabel(tr("Day(s) of week:"), tbsWeekly), 1, 0, 1, 4);
    for (std::size_t day = 0; day < DayBoxes.size(); ++day) {
        cbWDay[day] = new QCheckBox(tr(DayBoxes[day]), tbsWeekly);
        weekly->addWidget(cbWDay[day], 2 + static_cast<int>(day) / 4, static_cast<int>(day) % 4);
    }
    pgcOcc->addTab(tbsWeekly, tr(" Weekly"));

    auto* tbsMonthly = new QWidget;
    rbM1 = new QRadioButton(tr("Day"), tbsMonthly);
    edMDay = new TCountBox(CountLowest, MonthDayHighest, tbsMonthly);
    edMDayOfMonth = new TCountBox(CountLowest, CountHighest, tbsMonthly);
    rbM2 = new QRadioButton(tr("The"), tbsMonthly);
    cbMOcc = DropDown(Occurrences, tbsMonthly);
    cbMDay = DropDown(DayNames, tbsMonthly);
    edMMonth = new TCountBox(CountLowest, CountHighest, tbsMonthly);
    auto* monthly = new QGridLayout(tbsMonthly);
    monthly->addWidget(rbM1, 0, 0);
    monthly->addWidget(edMDay, 0, 1, 1, 2);
    monthly->addWidget(new QLabel(tr("of every"), tbsMonthly), 0, 3);
    monthly->addWidget(edMDayOfMonth, 0, 4);
    monthly->addWidget(new QLabel(tr("month(s)"), tbsMonthly), 0, 5);
    monthly->addWidget(rbM2, 1, 0);
    monthly->addWidget(cbMOcc, 1, 1);
    monthly->addWidget(cbMDay, 1, 2);
    monthly->addWidget(new QLabel(tr("of every"), tbsMonthly), 1, 3);
    monthly->addWidget(edMMonth, 1, 4);
    monthly->addWidget(new QLabel(tr("month(s)"), tbsMonthly), 1, 5);
    monthly->setColumnStretch(6, 1);
    pgcOcc->addTab(tbsMonthly, tr(" Monthly"));
    auto* monthForms = new QButtonGroup(this);
    monthForms->addButton(rbM1);
    monthForms->addButton(rbM2);

    rbOneShot = new QRadioButton(tr("Occurs once at"), gbOccurrence);
    dtpOOneShot = TimePicker(gbOccurrence);
    rbMultiShot = new QRadioButton(tr("Occurs every"), gbOccurrence);
    edOTime = new TCountBox(CountLowest, CountHighest, gbOccurrence);
    cbOTimeUnit = DropDown(std::array{"Hour(s)", "Minute(s)"}, gbOccurrence);
    dtpOStart = TimePicker(gbOccurrence);
    dtpOEnd = TimePicker(gbOccurrence);
    SetTime(dtpOEnd, QTime(23, 59));
    auto* triggers = new QButtonGroup(this);
    triggers->addButton(rbOneShot);
    triggers->addButton(rbMultiShot);
    auto* trigger = new QGridLayout;
    trigger->addWidget(rbOneShot, 0, 0);
    trigger->addWidget(dtpOOneShot, 0, 1);
    trigger->addWidget(rbMultiShot, 1, 0);
    trigger->addWidget(edOTime, 1, 1);
    trigger->addWidget(cbOTimeUnit, 1, 2);
    trigger->addWidget(new QLabel(tr("Starting at"), gbOccurrence), 2, 0, Qt::AlignRight);
    trigger->addWidget(dtpOStart, 2, 1);
    trigger->addWidget(new QLabel(tr("Ending at"), gbOccurrence), 2, 2, Qt::AlignRight);
    trigger->addWidget(dtpOEnd, 2, 3);
    trigger->setColumnStretch(4, 1);
    auto* occurrence = new QVBoxLayout(gbOccurrence);
    occurrence->addWidget(pgcOcc);
    occurrence->addLayout(trigger);

    gbDuration = new QGroupBox(tr("Duration"), this);
    dtpDurStart = DatePicker(gbDuration);
    rbDurEnd = new QRadioButton(tr("End"), gbDuration);
    dtpDurEnd = DatePicker(gbDuration);
    rbDurNoEnd = new QRadioButton(tr("No end"), gbDuration);
    auto* duration = new QGridLayout(gbDuration);
    duration->addWidget(new QLabel(tr("Start"), gbDuration), 0, 0);
    duration->addWidget(dtpDurStart, 0, 1);
    duration->addWidget(rbDurEnd, 1, 0);
    duration->addWidget(dtpDurEnd, 1, 1);
    duration->addWidget(rbDurNoEnd, 2, 0, 1, 2);
    duration->setColumnStretch(2, 1);
    duration->setRowStretch(3, 1);

    gbNextRuns = new QGroupBox(tr("Next runs"), this);
    lbNextRuns = new TNextRunsView(gbNextRuns);
    auto* nextRuns = new QVBoxLayout(gbNextRuns);
    nextRuns->addWidget(lbNextRuns);

    QHBoxLayout* buttons = OkCancelRow(btOk, btCancel);

    auto* below = new QHBoxLayout;
    below->addWidget(gbDuration, 1);
    below->addWidget(gbNextRuns);
    auto* form = new QVBoxLayout(this);
    form->addWidget(gbOccurrence);
    form->addLayout(below);
    form->addLayout(buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);

    rbM1->setChecked(true);
    rbM1Click();
    rbOneShot->setChecked(true);
    rbOneShotClick();
    rbDurNoEnd->setChecked(true);
    rbDurNoEndClick();
}

void TDlgTaskEd::Connect() {
    const auto onChecked = [this](QRadioButton* button, void (TDlgTaskEd::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked) {
                (this->*handler)();
            }
        });
    };
    onChecked(rbOneShot, &TDlgTaskEd::rbOneShotClick);
    onChecked(rbMultiShot, &TDlgTaskEd::rbMultiShotClick);
    onChecked(rbM1, &TDlgTaskEd::rbM1Click);
    onChecked(rbM2, &TDlgTaskEd::rbM2Click);
    onChecked(rbDurEnd, &TDlgTaskEd::rbDurEndClick);
    onChecked(rbDurNoEnd, &TDlgTaskEd::rbDurNoEndClick);
    connect(pgcOcc, &QTabWidget::currentChanged, this, &TDlgTaskEd::UpdateCaption);
    connect(dtpDurStart, &QDateEdit::dateChanged, this, &TDlgTaskEd::dtpDurStartChange);
    connect(dtpDurEnd, &QDateEdit::dateChanged, this, &TDlgTaskEd::dtpDurEndChange);
    connect(dtpOStart, &QTimeEdit::timeChanged, this, &TDlgTaskEd::dtpOStartChange);
    connect(dtpOEnd, &QTimeEdit::timeChanged, this, &TDlgTaskEd::dtpOEndChange);
    connect(dtpOOneShot, &QTimeEdit::timeChanged, this, &TDlgTaskEd::FilterTime);
    connect(btOk, &QPushButton::clicked, this, &TDlgTaskEd::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TDlgTaskEd::btCancelClick);
    ConnectNextRuns();
}

// After the handlers above, so the starts follow what a handler corrected.
void TDlgTaskEd::ConnectNextRuns() {
    const auto update = [this] { UpdateNextRuns(); };
    connect(pgcOcc, &QTabWidget::currentChanged, this, update);
    for (TCountBox* count : {edDDays, edWWeeks, edMDay, edMDayOfMonth, edMMonth, edOTime}) {
        connect(count, &TCountBox::TextChanged, this, update);
    }
    for (QAbstractButton* box : cbWDay) {
        connect(box, &QAbstractButton::toggled, this, update);
    }
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             rbM1, rbM2, rbOneShot, rbMultiShot, rbDurEnd, rbDurNoEnd}) {
        connect(button, &QAbstractButton::toggled, this, update);
    }
    for (QComboBox* list : {cbMOcc, cbMDay, cbOTimeUnit}) {
        connect(list, &QComboBox::currentIndexChanged, this, update);
    }
    for (QTimeEdit* picker : {dtpOOneShot, dtpOStart, dtpOEnd}) {
        connect(picker, &QTimeEdit::timeChanged, this, update);
    }
    for (QDateEdit* picker : {dtpDurStart, dtpDurEnd}) {
        connect(picker, &QDateEdit::dateChanged, this, update);
    }
}

void TDlgTaskEd::FormShow() {
    shown_ = Schedule;
    if (IsDefined(Schedule)) {
        SetDate(dtpDurStart, DateOf(Schedule.StartDate));
        if (Schedule.NoEnd) {
            rbDurNoEnd->setChecked(true);
            SetDate(dtpDurEnd, DateOf(clock_.Now()));
        } else {
            rbDurEnd->setChecked(true);
            SetDate(dtpDurEnd, DateOf(Schedule.EndDate));
        }
    } else {
        Schedule = TScheDef{};
        Schedule.DailyEvery = 1;
    }
    ShowTrigger(Schedule);
    ShowFrequency(Schedule);
    UpdateCaption();
    UpdateNextRuns();
}

void TDlgTaskEd::ShowTrigger(const TScheDef& s) {
    if (s.Trigger == TTrigger::Once) {
        SetTime(dtpOOneShot, TimeOf(s.OnceAt));
        rbOneShot->setChecked(true);
    } else if (s.Trigger == TTrigger::Periodic) {
        edOTime->SetValue(s.EveryCount);
        Select(cbOTimeUnit, static_cast<int>(s.EveryUnit));
        SetTime(dtpOStart, TimeOf(s.BetweenStart));
        SetTime(dtpOEnd, TimeOf(s.BetweenEnd));
        rbMultiShot->setChecked(true);
    }
}

void TDlgTaskEd::ShowFrequency(const TScheDef& s) {
    switch (s.Frequency) {
    case TFrequency::Daily:
        pgcOcc->setCurrentIndex(0);
        edDDays->SetValue(s.DailyEvery);
        break;
    case TFrequency::Weekly:
        pgcOcc->setCurrentIndex(1);
        edWWeeks->SetValue(s.WeeklyEvery);
        for (std::size_t day = 0; day < DayBoxes.size(); ++day) {
            cbWDay[day]->setChecked((s.WeekDays >> day) & 1);
        }
        break;
    case TFrequency::Monthly:
        pgcOcc->setCurrentIndex(2);
        if (s.ByWeekDay) {
            rbM2->setChecked(true);
            Select(cbMOcc, s.Occurrence);
            Select(cbMDay, s.OccWeekDay);
            edMMonth->SetValue(s.OccMonthlyEvery);
        } else {
            rbM1->setChecked(true);
            edMDay->SetValue(s.MonthDay);
            edMDayOfMonth->SetValue(s.MonthlyEvery);
        }
        break;
    }
}

void TDlgTaskEd::UpdateCaption() {
    setWindowTitle(QStringLiteral("%1 [%2]").arg(tr("Schedule Editor"), TaskName));
}

std::optional<QString> TDlgTaskEd::EmptyCountBox() const {
    std::vector<std::pair<const TCountBox*, QString>> needed;
    if (rbMultiShot->isChecked()) {
        needed.emplace_back(edOTime, tr("Occurs every"));
    }
    switch (pgcOcc->currentIndex()) {
    case 0:
        needed.emplace_back(edDDays, tr("Every ... day(s)"));
        break;
    case 1:
        needed.emplace_back(edWWeeks, tr("Every ... week(s)"));
        break;
    default:
        if (rbM1->isChecked()) {
            needed.emplace_back(edMDay, tr("Day"));
            needed.emplace_back(edMDayOfMonth, tr("of every ... month(s)"));
        } else {
            needed.emplace_back(edMMonth, tr("of every ... month(s)"));
        }
        break;
    }
    for (const auto& [box, field] : needed) {
        if (!box->Value()) {
            return field;
        }
    }
    return std::nullopt;
}

std::uint8_t TDlgTaskEd::CheckedDays() const {
    std::uint8_t days = 0;
    for (std::size_t day = 0; day < DayBoxes.size(); ++day) {
        if (cbWDay[day]->isChecked()) {
            days |= static_cast<std::uint8_t>(1u << day);
        }
    }
    return days;
}

TScheDef TDlgTaskEd::Edited() const {
    TScheDef s{};
    s.Frequency = static_cast<TFrequency>(pgcOcc->currentIndex());
    s.Trigger = rbMultiShot->isChecked() ? TTrigger::Periodic : TTrigger::Once;
    s.NoEnd = rbDurNoEnd->isChecked();
    s.StartDate = DayOf(dtpDurStart->date());
    s.EndDate = DayOf(dtpDurEnd->date());
    if (s.Trigger == TTrigger::Once) {
        s.OnceAt = TimeValue(dtpOOneShot->time());
    } else {
        s.EveryCount = *edOTime->Value();
        s.EveryUnit = static_cast<TEveryUnit>(cbOTimeUnit->currentIndex());
        s.BetweenStart = TimeValue(dtpOStart->time());
        s.BetweenEnd = TimeValue(dtpOEnd->time());
    }
    switch (s.Frequency) {
    case TFrequency::Daily:
        s.DailyEvery = *edDDays->Value();
        break;
    case TFrequency::Weekly:
        s.WeeklyEvery = *edWWeeks->Value();
        s.WeekDays = CheckedDays();
        break;
    case TFrequency::Monthly:
        s.ByWeekDay = rbM2->isChecked();
        if (s.ByWeekDay) {
            s.Occurrence = static_cast<std::uint8_t>(cbMOcc->currentIndex());
            s.OccWeekDay = static_cast<std::uint8_t>(cbMDay->currentIndex());
            s.OccMonthlyEvery = *edMMonth->Value();
        } else {
            s.MonthDay = *edMDay->Value();
            s.MonthlyEvery = *edMDayOfMonth->Value();
        }
        break;
    }
    return s;
}

std::optional<TScheDef> TDlgTaskEd::Previewed() const {
    if (EmptyCountBox()) {
        return std::nullopt;
    }
    return Edited();
}

void TDlgTaskEd::UpdateNextRuns() {
    if (const auto schedule = Previewed()) {
        lbNextRuns->ShowRuns(NextRuns(*schedule, clock_.Now(), NextRunsShown));
    } else {
        lbNextRuns->ShowHint(tr("No preview: a number is missing."));
    }
}

void TDlgTaskEd::btOkClick() {
    if (const auto field = EmptyCountBox()) {
        prompts_.Show(this, TBoxKind::Error, tr("Please enter a number in \"%1\".").arg(*field));
        return;
    }
    if (pgcOcc->currentIndex() == 1 && !HasWeekDay(CheckedDays())) {
        prompts_.Show(this, TBoxKind::Error, tr(NoWeekDayText));
        return;
    }
    Schedule = Edited();
    done(Accepted);
}

void TDlgTaskEd::btCancelClick() {
    Schedule = shown_;
    done(Rejected);
}

void TDlgTaskEd::reject() {
    btCancelClick();
}

void TDlgTaskEd::rbOneShotClick() {
    Enable({dtpOOneShot}, true);
    Enable({edOTime, cbOTimeUnit, dtpOStart, dtpOEnd}, false);
    UpdateCaption();
}

void TDlgTaskEd::rbMultiShotClick() {
    Enable({edOTime, cbOTimeUnit, dtpOStart, dtpOEnd}, true);
    Enable({dtpOOneShot}, false);
    UpdateCaption();
}

void TDlgTaskEd::rbM1Click() {
    Enable({edMDay, edMDayOfMonth}, true);
    Enable({cbMOcc, cbMDay, edMMonth}, false);
}

void TDlgTaskEd::rbM2Click() {
    Enable({cbMOcc, cbMDay, edMMonth}, true);
    Enable({edMDay, edMDayOfMonth}, false);
}

void TDlgTaskEd::rbDurEndClick() {
    SetDate(dtpDurEnd, dtpDurStart->date());
    dtpDurEnd->setEnabled(true);
}

void TDlgTaskEd::rbDurNoEndClick() {
    dtpDurEnd->setEnabled(false);
}

void TDlgTaskEd::dtpDurStartChange() {
    if (rbDurNoEnd->isChecked() || dtpDurEnd->date() >= dtpDurStart->date()) {
        return;
    }
    prompts_.Show(this, TBoxKind::Error,
                  tr("The starting cannot be greater than the ending date!"));
    SetDate(dtpDurStart, dtpDurEnd->date());
}

void TDlgTaskEd::dtpDurEndChange() {
    if (dtpDurStart->date() <= dtpDurEnd->date()) {
        return;
    }
    prompts_.Show(this, TBoxKind::Error,
                  tr("The ending cannot be smaller than the starting date!"));
    SetDate(dtpDurEnd, dtpDurStart->date());
}

namespace {

// Seconds and milliseconds dropped: triggers are whole minutes.
void WholeMinute(QTimeEdit* picker) {
    const QTime time = picker->time();
    SetTime(picker, QTime(time.hour(), time.minute()));
}

} // namespace

void TDlgTaskEd::FilterTime() {
    WholeMinute(dtpOOneShot);
}

void TDlgTaskEd::dtpOStartChange() {
    WholeMinute(dtpOStart);
    if (dtpOEnd->time() >= dtpOStart->time()) {
        return;
    }
    prompts_.Show(this, TBoxKind::Error, tr("The starting time be greater than the ending time!"));
    SetTime(dtpOStart, dtpOEnd->time());
}

void TDlgTaskEd::dtpOEndChange() {
    WholeMinute(dtpOEnd);
    if (dtpOStart->time() <= dtpOEnd->time()) {
        return;
    }
    prompts_.Show(this, TBoxKind::Error, tr("The ending time be less than the starting time!"));
    SetTime(dtpOEnd, dtpOStart->time());
}

} // namespace tarvok

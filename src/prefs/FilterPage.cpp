#include "prefs/FilterPage.h"

#include "check/ApplyAllFilters.h"
#include "check/Session.h"
#include "checker/MailListPresenter.h"
#include "checker/ShutdownCountdown.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/TF_ShutdownForm.h"
#include "checker/UiText.h"
#include "core/IniFile.h"
#include "core/Settings.h"
#include "core/TarnError.h"
#include "filters/EvaluateFilters.h"
#include "maillist/MailListIcons.h"
#include "prefs/FilterListModel.h"
#include "prefs/TF_Prefs.h"

#include "ui_FilterPage.h"

#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QMouseEvent>

#include <algorithm>

namespace tarn {

namespace {

const char* const kIncomplete = "Filter arguments are not complete";
const char* const kNothingToDelete =
    "Nothing to delete. Please select the filter you want to delete first!";
const char* const kConfirmDelete = "Are you sure you want to delete this filter?";

// Room for the check box beside a line's text.
constexpr int kCheckBoxRoom = 30;

} // namespace

FilterPage::FilterPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::FilterPage>()) {
    m_ui->setupUi(this);
    m_ui->Filter_SoundFile->hide();
    m_ui->ComboBoxEx1->hide();
    // What the settings file can hold on one line.
    m_ui->Filter_arg_edit->setMaxLength(static_cast<int>(IniFile::kMaxValueLength));

    m_model = new FilterListModel(this);
    QListView* list = m_ui->FilterListBox;
    list->setModel(m_model);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->viewport()->setMouseTracking(true);
    list->viewport()->installEventFilter(this);
    m_model->onCheckClicked = [this](int row, bool checked) {
        this->prefs().runCommand([&] { FilterListBoxClickCheck(row, checked); });
    };

    auto command = [this](void (FilterPage::*handler)()) {
        return
            [this, handler] { this->prefs().runCommand([this, handler] { (this->*handler)(); }); };
    };
    connect(list, &QListView::clicked, this, command(&FilterPage::FilterListBoxClick));
    // The keyboard moves the current line as a click would.
    connect(list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    this->prefs().runCommand([this] { FilterListBoxClick(); });
            });
    // Only the user's choices run the change handlers; the page's own settings call them.
    connect(m_ui->Filter_If_ComboBox, &QComboBox::activated, this,
            command(&FilterPage::Filter_If_ComboBoxChange));
    connect(m_ui->Filter_Action_ComboBox, &QComboBox::activated, this,
            command(&FilterPage::Filter_Action_ComboBoxChange));
    connect(m_ui->ActivateFilterButton, &QPushButton::clicked, this,
            command(&FilterPage::ActivateFilterButtonClick));
    connect(m_ui->UpdateFilterButton, &QPushButton::clicked, this,
            command(&FilterPage::UpdateFilterButtonClick));
    connect(m_ui->ClearFilterButton, &QPushButton::clicked, this,
            command(&FilterPage::ClearFilterButtonClick));
    connect(m_ui->B_DeleteFilter, &QPushButton::clicked, this,
            command(&FilterPage::B_DeleteFilterClick));
    connect(m_ui->ApplyFilters, &QPushButton::clicked, this,
            command(&FilterPage::ApplyFiltersClick));
}

FilterPage::~FilterPage() = default;

void FilterPage::formCreate() {
    m_ui->UpdateFilterButton->setEnabled(false);
    m_ui->B_DeleteFilter->setEnabled(false);
    QComboBox* icons = m_ui->ComboBoxEx1;
    icons->clear();
    for (int i = 0; i < IconCount; ++i) {
        icons->addItem(MailListIcons::rowIcon(i), QString());
        icons->setItemData(i, QStringLiteral("Icon %1").arg(i), Qt::AccessibleTextRole);
    }
    icons->setCurrentIndex(-1);
}

// --- lines ---

QString FilterPage::itemText(const QComboBox* box, int index) const {
    // A stored number outside the list (a damaged file) shows as no text.
    if (index < 0 || index >= box->count())
        return QString();
    return box->itemText(index);
}

QString FilterPage::lineTextOf(const TFilter& f) const {
    return QStringLiteral("If ") + itemText(m_ui->Filter_If_ComboBox, f.IfCondition) +
           QLatin1Char(' ') + uiText(f.Argument) + QStringLiteral(" and account is ") +
           itemText(m_ui->Filter_Account_comboBox, f.Account) + QStringLiteral(" then ") +
           itemText(m_ui->Filter_Action_ComboBox, f.Action);
}

int FilterPage::lineCount() const {
    return m_model->count();
}

QString FilterPage::lineText(int row) const {
    return row >= 0 && row < m_model->count() ? m_model->line(row).text : QString();
}

bool FilterPage::lineChecked(int row) const {
    return row >= 0 && row < m_model->count() && m_model->line(row).checked;
}

int FilterPage::lineHeight() const {
    QListView* list = m_ui->FilterListBox;
    if (m_model->count() > 0)
        return std::max(1, list->sizeHintForRow(0));
    return std::max(1, QFontMetrics(list->font()).height());
}

int FilterPage::currentLine() const {
    const QItemSelectionModel* sel = m_ui->FilterListBox->selectionModel();
    const QModelIndex current = sel->currentIndex();
    if (!current.isValid() || !sel->isSelected(current))
        return -1;
    return current.row();
}

void FilterPage::selectLine(int row) {
    if (row < 0 || row >= m_model->count())
        return;
    m_ui->FilterListBox->selectionModel()->setCurrentIndex(m_model->index(row),
                                                           QItemSelectionModel::ClearAndSelect);
}

void FilterPage::publishFilters() {
    Settings& s = settings();
    s.Main.FilterCount = static_cast<int>(s.Filters.size());
    session().filters().store(s.Filters);
}

// --- operations ---

void FilterPage::FilterTabSheetShow() {
    const Settings& s = settings();
    QComboBox* accounts = m_ui->Filter_Account_comboBox;
    accounts->clear();
    accounts->addItem(QStringLiteral("any account"));
    for (int a = 1; a <= s.accountCount(); ++a)
        accounts->addItem(uiText(s.account(a).Name));
    accounts->setCurrentIndex(-1);

    const QFontMetrics metrics(m_ui->FilterListBox->font());
    std::vector<FilterListModel::Line> lines;
    lines.reserve(s.Filters.size());
    for (const TFilter& f : s.Filters) {
        FilterListModel::Line l;
        l.text = lineTextOf(f);
        l.width = metrics.horizontalAdvance(l.text);
        l.checked = f.Active;
        lines.push_back(std::move(l));
    }
    m_model->setLines(std::move(lines));
    FitFilterList();
    ClearFilterButtonClick();
}

void FilterPage::FitFilterList() {
    QListView* list = m_ui->FilterListBox;
    const int n = m_model->count();
    const int width = n == 0 ? 0 : m_model->widestLine() + kCheckBoxRoom;
    const int height = n * lineHeight();
    list->resize(width, height);
}

void FilterPage::ClearFilterButtonClick() {
    m_ui->FilterListBox->selectionModel()->clear();
    m_ui->UpdateFilterButton->setEnabled(false);
    m_ui->B_DeleteFilter->setEnabled(false);
    m_ui->Filter_If_ComboBox->setCurrentIndex(-1);
    m_ui->Filter_Account_comboBox->setCurrentIndex(-1);
    m_ui->Filter_Action_ComboBox->setCurrentIndex(-1);
    Filter_Action_ComboBoxChange();
    m_ui->Filter_arg_edit->clear();
    m_ui->Filter_SoundFile->clear();
    Filter_If_ComboBoxChange();
    m_ui->ComboBoxEx1->setCurrentIndex(-1);
}

void FilterPage::Filter_If_ComboBoxChange() {
    m_ui->FilterUnitLabel->setText(QString());
    m_ui->Filter_arg_edit->setEnabled(true);
    switch (m_ui->Filter_If_ComboBox->currentIndex()) {
    case 5:
    case 6:
        m_ui->FilterUnitLabel->setText(QStringLiteral("kB"));
        break;
    case 7:
        m_ui->FilterUnitLabel->setText(QStringLiteral("days"));
        break;
    case SpamCondition:
        m_ui->Filter_arg_edit->setEnabled(false);
        break;
    default:
        break;
    }
}

void FilterPage::Filter_Action_ComboBoxChange() {
    QComboBox* icons = m_ui->ComboBoxEx1;
    if (m_ui->Filter_Action_ComboBox->currentIndex() == CustomIconAction) {
        icons->setCurrentIndex(icons->count() > 0 ? 0 : -1);
        icons->show();
    } else {
        icons->hide();
    }
}

void FilterPage::FilterListBoxClick() {
    const int row = currentLine();
    if (row < 0 || row >= static_cast<int>(settings().Filters.size()))
        return;
    const TFilter& f = settings().Filters[static_cast<std::size_t>(row)];
    m_ui->UpdateFilterButton->setEnabled(true);
    m_ui->B_DeleteFilter->setEnabled(true);
    auto choose = [](QComboBox* box, int index) {
        box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
    };
    choose(m_ui->Filter_If_ComboBox, f.IfCondition);
    choose(m_ui->Filter_Account_comboBox, f.Account);
    choose(m_ui->Filter_Action_ComboBox, f.Action);
    Filter_Action_ComboBoxChange();
    m_ui->Filter_arg_edit->setText(uiText(f.Argument));
    m_ui->Filter_SoundFile->setText(uiText(f.SoundFile));
    Filter_If_ComboBoxChange();
    choose(m_ui->ComboBoxEx1, f.Icon);
}

void FilterPage::FilterListBoxClickCheck(int row, bool checked) {
    std::vector<TFilter>& filters = settings().Filters;
    if (row < 0 || row >= static_cast<int>(filters.size()))
        return;
    filters[static_cast<std::size_t>(row)].Active = checked;
    publishFilters();
}

void FilterPage::FilterListBoxMouseMove(const QPoint& pos) {
    QListView* list = m_ui->FilterListBox;
    const QModelIndex top = list->indexAt(QPoint(0, 0));
    const int row = pos.y() / lineHeight() + (top.isValid() ? top.row() : 0);
    list->setToolTip(pos.y() >= 0 && row < m_model->count() ? lineText(row) : QString());
}

bool FilterPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->FilterListBox->viewport() && event->type() == QEvent::MouseMove)
        FilterListBoxMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
    return PrefsPage::eventFilter(watched, event);
}

bool FilterPage::SaveFilter(int index) {
    const int condition = m_ui->Filter_If_ComboBox->currentIndex();
    const int account = m_ui->Filter_Account_comboBox->currentIndex();
    const int action = m_ui->Filter_Action_ComboBox->currentIndex();
    const QString argument = m_ui->Filter_arg_edit->text();
    if (condition < 0 || (argument.isEmpty() && condition != SpamCondition) || account < 0 ||
        action < 0) {
        prefs().dialogs().error(QString::fromLatin1(kIncomplete));
        return false;
    }
    std::vector<TFilter>& filters = settings().Filters;
    const int lines = m_model->count();
    index = std::clamp(index, 0, lines);
    if (index == lines && lines >= kMaxFilters) {
        // The settings file keeps no more; one more would be lost at the next start.
        prefs().dialogs().error(
            QStringLiteral("No more than %1 filters can be kept").arg(kMaxFilters));
        return false;
    }

    TFilter f;
    f.IfCondition = condition;
    f.Account = account;
    f.Action = action;
    f.Argument = uiLineBytes(argument);
    f.SoundFile = uiLineBytes(m_ui->Filter_SoundFile->text());
    f.Icon = m_ui->ComboBoxEx1->currentIndex();
    f.Active = true;

    FilterListModel::Line line;
    line.text = lineTextOf(f);
    line.width = QFontMetrics(m_ui->FilterListBox->font()).horizontalAdvance(line.text);
    line.checked = true;

    // Lines and table stay the same length: a line for every filter and the reverse.
    filters.resize(static_cast<std::size_t>(lines));
    if (index == lines)
        filters.push_back(std::move(f));
    else
        filters[static_cast<std::size_t>(index)] = std::move(f);
    publishFilters();
    m_model->putLine(index, std::move(line));

    if (account > 0 && account <= settings().accountCount() && !settings().account(account).List) {
        prefs().dialogs().warning(QStringLiteral("\"Retrieve EMail List\" feature on account ") +
                                  uiText(settings().account(account).Name) +
                                  QStringLiteral(" must be turned ON to activate this filter"));
    }
    FitFilterList();
    return true;
}

void FilterPage::ActivateFilterButtonClick() {
    if (SaveFilter(m_model->count()))
        ClearFilterButtonClick();
}

void FilterPage::UpdateFilterButtonClick() {
    const int row = currentLine();
    if (row < 0)
        return;
    if (SaveFilter(row))
        ClearFilterButtonClick();
}

void FilterPage::B_DeleteFilterClick() {
    const int row = currentLine();
    if (row < 0) {
        prefs().dialogs().error(QString::fromLatin1(kNothingToDelete));
    } else if (prefs().dialogs().confirm(QString::fromLatin1(kConfirmDelete))) {
        std::vector<TFilter>& filters = settings().Filters;
        if (row < static_cast<int>(filters.size()))
            filters.erase(filters.begin() + row);
        publishFilters();
        m_model->removeLine(row);
    }
    FitFilterList();
    ClearFilterButtonClick();
}

void FilterPage::ApplyFiltersClick() {
    const FilterPassResult pass = applyAllFilters(session());
    for (int i = 0; i < pass.shutdownRequests; ++i)
        checker().shutdownCountdown().StartShutdownTimer();
    // The list and the fields show what the pass changed, also when it stopped early.
    if (MailListPresenter* list = checker().mailList())
        list->RebuildList(list->viewAccount());
    for (int a = 1; a <= settings().accountCount(); ++a)
        checker().UpdateFieldCount(a);
    if (!pass.failure.empty()) {
        prefs().dialogs().error(QString::fromStdString(pass.failure));
        throw TarnError(pass.failure);
    }
}

} // namespace tarn

#pragma once

#include "core/TFilter.h"
#include "prefs/PrefsPage.h"

#include <memory>

class QComboBox;
class QPoint;

namespace Ui {
class FilterPage;
}

namespace tarn {

class FilterListModel;

// The "Message Filters" page: composes a filter from condition, argument, account and action,
// keeps one list line per filter of the table, and applies all filters to the known messages.
//
// The table (the settings' Filters) is changed here on the main thread only; after every
// change the whole table goes to the check workers as a new filter-list snapshot, so an
// evaluation on a worker sees the table before the change or after it.
class FilterPage : public PrefsPage {
    Q_OBJECT
public:
    // The conditions without an argument ("spam mail is suspected") and the action that
    // shows the icon picker ("use custom mail icon").
    static constexpr int SpamCondition = 8;
    static constexpr int CustomIconAction = 3;
    static constexpr int IconCount = 15;

    explicit FilterPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~FilterPage() override;

    void formCreate() override;
    void becameCurrent() override { FilterTabSheetShow(); }

    // --- operations ---
    void FilterTabSheetShow();
    void FitFilterList();
    // Validates the editor and writes it into filter `index` (appends at the number of lines).
    // False, with the error shown and nothing changed, when the editor is incomplete.
    bool SaveFilter(int index);
    void ActivateFilterButtonClick();
    void UpdateFilterButtonClick();
    void B_DeleteFilterClick();
    void ClearFilterButtonClick();
    void ApplyFiltersClick();
    void FilterListBoxClick();
    void FilterListBoxClickCheck(int row, bool checked);
    void FilterListBoxMouseMove(const QPoint& pos);
    void Filter_If_ComboBoxChange();
    void Filter_Action_ComboBoxChange();

    // --- state ---
    // The selected line, -1 when none.
    int currentLine() const;
    void selectLine(int row);
    int lineCount() const;
    QString lineText(int row) const;
    bool lineChecked(int row) const;
    int lineHeight() const;
    FilterListModel& model() { return *m_model; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString itemText(const QComboBox* box, int index) const;
    QString lineTextOf(const TFilter& filter) const;
    // Replaces the workers' snapshot with the table as it is now.
    void publishFilters();

    std::unique_ptr<Ui::FilterPage> m_ui;
    FilterListModel* m_model = nullptr;
};

} // namespace tarn

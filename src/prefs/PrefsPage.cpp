#include "prefs/PrefsPage.h"

#include "check/Session.h"
#include "checker/TF_CheckerWindow.h"
#include "core/MainSettings.h"
#include "core/NumberRanges.h"
#include "core/TarnError.h"
#include "prefs/TF_Prefs.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QIntValidator>
#include <QLineEdit>

namespace tarn {

PrefsPage::PrefsPage(TF_Prefs& prefs, QWidget* parent) : QWidget(parent), m_prefs(prefs) {}

PrefsPage::~PrefsPage() = default;

void PrefsPage::fill() {
    for (const Binding& b : m_bindings)
        if (b.fill)
            b.fill();
}

void PrefsPage::commit(OkStep step) {
    for (const Binding& b : m_bindings)
        if (b.step == step && b.commit)
            b.commit();
}

QString PrefsPage::caption() const {
    const auto* box = findChild<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly);
    return box ? box->title() : QString();
}

Session& PrefsPage::session() {
    return m_prefs.session();
}

Settings& PrefsPage::settings() {
    return m_prefs.session().settings();
}

MainSettings& PrefsPage::mainSettings() {
    return m_prefs.session().settings().Main;
}

TF_CheckerWindow& PrefsPage::checker() {
    return m_prefs.checker();
}

void PrefsPage::bindCheckBox(QAbstractButton* box, bool MainSettings::*field, OkStep step) {
    bind([this, box, field] { box->setChecked(mainSettings().*field); },
         [this, box, field] { mainSettings().*field = box->isChecked(); }, step);
}

void PrefsPage::bind(std::function<void()> fill, std::function<void()> commit, OkStep step) {
    m_bindings.push_back({std::move(fill), std::move(commit), step});
}

void PrefsPage::addNumberField(QLineEdit* field, const NumberRange& range) {
    field->setValidator(new QIntValidator(range.min, range.max, field));
    m_numberFields.push_back({field, &range});
}

void PrefsPage::bindNumber(QLineEdit* field, int MainSettings::*member, const NumberRange& range) {
    addNumberField(field, range);
    bind([this, field, member,
          &range] { field->setText(QString::number(clampToRange(mainSettings().*member, range))); },
         [this, field, member, &range] {
             const std::optional<int> n = numberInRange(field->text().toStdString(), range);
             if (!n)
                 throw TarnError(rangeMessage(range));
             mainSettings().*member = *n;
         });
}

std::optional<RangeProblem> PrefsPage::rangeProblem() {
    for (const NumberField& f : m_numberFields)
        if (!numberInRange(f.field->text().toStdString(), *f.range))
            return RangeProblem{QString::fromStdString(rangeMessage(*f.range)), f.field};
    return std::nullopt;
}

} // namespace tarn

#include "prefs/PrefsPage.h"

#include "check/Session.h"
#include "checker/TF_CheckerWindow.h"
#include "prefs/TF_Prefs.h"

#include <QAbstractButton>
#include <QGroupBox>

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

} // namespace tarn

#pragma once

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QGroupBox;
class QLineEdit;

namespace tarn {

class Session;
class TF_CheckerWindow;
struct MainSettings;
struct Settings;
struct NumberRange;
class TF_Prefs;

// A number field that does not hold a number of its range, found before OK changes anything.
struct RangeProblem {
    QString message; // names the field and the range
    QWidget* field = nullptr;
};

// The steps of "OK" that copy controls into the settings, in the order the frame runs them
// over all pages. Step 7 (the account page) and the writing of the file follow.
enum class OkStep {
    ColorSet = 1, // the colour set chosen from the desktop-colours box
    TrayAnimation = 2,
    Options = 3, // every other global option
    Floating = 4,
    AlwaysOnTop = 5,
    Transparency = 6,
};

// One page of the preferences dialog.
//
// How a page plugs in:
//  - The page is a class derived from PrefsPage with a Qt Designer form of the same name
//    (Foo.ui beside Foo.h/Foo.cpp, compiled by AUTOUIC; setupUi(this) in the constructor).
//    The form's top widget holds one QGroupBox whose title is the page caption. Every
//    control in the form carries its objectName, caption, hint, buddy (every field's label),
//    geometry and a dynamic property "level" (int): 0 the level switch leaves it alone, 1
//    Advanced and Expert, 2 Expert only, 3 the experimental note, -1 the notice shown at
//    Basic, -2 the notice shown at Advanced. That property is the only place a level is
//    stated; TF_Prefs walks every page's widgets and applies it.
//  - TF_Prefs creates the page once in its constructor and puts it behind its tree node (see
//    TF_Prefs::createPages); the pages live as long as the dialog.
//  - A page registers what it does by overriding these hooks; none of them may open a
//    window except where the page's own command does:
//      formCreate()    once, while the dialog is created (after the settings are read);
//      fill()          before every showing (FillPrefsDialog): settings -> controls;
//      commit(step)    on "OK", once per OkStep in step order: controls -> settings; a value
//                      that is not valid throws TarnError, which ends OK before the file is
//                      written;
//      becameCurrent() when the tree makes the page current.
//    A plain check box bound to a boolean of MainSettings needs no code of its own:
//    bindCheckBox() registers its fill and its commit (step Options unless told).
//  - Commands that act at once (colours, sizes, sounds) change the settings themselves and
//    tell the checker window; they throw TarnError to end a command silently, as the
//    application's handler discards it.
class PrefsPage : public QWidget {
    Q_OBJECT
public:
    PrefsPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~PrefsPage() override;

    virtual void formCreate() {}
    // Runs the bound controls' fills; a page that overrides it calls it too.
    virtual void fill();
    // Runs the bound controls' commits of that step; a page that overrides it calls it too.
    virtual void commit(OkStep step);
    virtual void becameCurrent() {}
    // After a level switch has shown and hidden the page's tagged controls.
    virtual void levelApplied() {}
    // The first number field that holds no number of its range (hidden fields included, as
    // OK stores them too); OK is refused with its message and the page shown.
    virtual std::optional<RangeProblem> rangeProblem();

    // The page's caption (the title of its group box).
    QString caption() const;

protected:
    TF_Prefs& prefs() { return m_prefs; }
    Session& session();
    Settings& settings();
    MainSettings& mainSettings();
    TF_CheckerWindow& checker();

    void bindCheckBox(QAbstractButton* box, bool MainSettings::*field,
                      OkStep step = OkStep::Options);
    // A control with its own fill and commit.
    void bind(std::function<void()> fill, std::function<void()> commit,
              OkStep step = OkStep::Options);
    // A number field: takes only digits of its range as typed, and is checked by OK.
    void addNumberField(QLineEdit* field, const NumberRange& range);
    // A number field of the main settings: shown clamped to its range, stored when in it.
    void bindNumber(QLineEdit* field, int MainSettings::*member, const NumberRange& range);

private:
    struct Binding {
        std::function<void()> fill;
        std::function<void()> commit;
        OkStep step;
    };
    struct NumberField {
        QLineEdit* field;
        const NumberRange* range;
    };
    TF_Prefs& m_prefs;
    std::vector<Binding> m_bindings;
    std::vector<NumberField> m_numberFields;
};

} // namespace tarn

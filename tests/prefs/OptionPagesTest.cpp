#include "PrefsFixture.h"

#include "check/DeletionLog.h"
#include "checker/CheckerPlacement.h"
#include "checker/CheckerTray.h"
#include "checker/QtSoundPlayer.h"
#include "core/GlobalOptions.h"
#include "core/IniFile.h"
#include "fakes/RecordingSoundPlayer.h"
#include "prefs/ColorsPage.h"
#include "prefs/GeneralPage.h"
#include "prefs/LogPage.h"
#include "prefs/SoundPage.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>

#include <fstream>
#include <sstream>

namespace tarn {
namespace {

using test::PrefsFixture;

class OptionPagesTest : public PrefsFixture {
protected:
    // Opens the dialog as "Preferences..." does and selects a fixed node.
    void open(const char* node) {
        if (!prefs->isVisible())
            prefs->openPreferences();
        const auto found = tree()->findItems(node, Qt::MatchExactly | Qt::MatchRecursive);
        ASSERT_EQ(found.size(), 1) << node;
        tree()->setCurrentItem(found.front());
    }
    // The focus leaves a field the way the keyboard makes it.
    void leave(const char* name) {
        QFocusEvent e(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(w<QLineEdit>(name), &e);
    }
    QCheckBox* box(const char* name) const { return w<QCheckBox>(name); }
    QSlider* slider(const char* name) const { return w<QSlider>(name); }
    void click(const char* name) const { w<QAbstractButton>(name)->click(); }
    void ok() const { click("SaveButton"); }
    void cancel() const { click("Button11"); }

    // The settings as the program reads them at its next start.
    Settings reread() const {
        Settings s;
        SettingsReadInputs in;
        in.workingFolder = dir.path().string();
        in.screen = {800, 800};
        in.window = {100, 30};
        loadSettingsFile(dir.file("tarn.ini"), in, s);
        return s;
    }
    // The keys of a section of the settings file, in file order.
    std::vector<std::string> keysOf(const std::string& section) const {
        std::ifstream in(dir.file("tarn.ini"));
        std::vector<std::string> keys;
        std::string line;
        bool inside = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty() && line.front() == '[') {
                inside = line == "[" + section + "]";
                continue;
            }
            if (inside && line.find('=') != std::string::npos)
                keys.push_back(line.substr(0, line.find('=')));
        }
        return keys;
    }
    QColor paintedAt(QWidget* widget, int x, int y) const {
        return widget->grab().toImage().pixelColor(x, y);
    }
};

// ----- number fields -----

TEST_F(OptionPagesTest, NumberFieldsAreCorrectedWhenTheFocusLeavesThem) {
    struct Case {
        const char* field;
        const char* typed;
        const char* shown;
        const char* error; // null: the check ends without an error
    };
    const Case cases[] = {
        {"lMaxMailCount", "abc", "10", kRepeatCountError},
        {"lMaxMailCount", "", "10", kRepeatCountError},
        {"lMaxMailCount", "1.5", "10", kRepeatCountError},
        {"lMaxMailCount", "-5", "0", nullptr},
        {"lMaxMailCount", "-2", "0", nullptr},
        {"lMaxMailCount", "-1", "-1", nullptr},
        {"lMaxMailCount", "25", "25", nullptr},
        {"MaxDlEdit", "", "4096", kDownloadLimitError},
        {"MaxDlEdit", "12kB", "4096", kDownloadLimitError},
        {"MaxDlEdit", "99999999999", "4096", kDownloadLimitError},
        {"MaxDlEdit", "200", "200", nullptr},
    };
    make(1);
    prefs->openPreferences();
    auto* sound = prefs->page<SoundPage>();
    auto* general = prefs->page<GeneralPage>();
    for (const Case& c : cases) {
        setText(c.field, c.typed);
        leave(c.field);
        EXPECT_EQ(text(c.field), c.shown) << c.field << " " << c.typed;
        if (c.error) {
            EXPECT_EQ(prefs->lastDiscardedError(), c.error) << c.typed;
        } else {
            // Checked once more: the text it left is accepted.
            EXPECT_NO_THROW(std::string(c.field) == "MaxDlEdit" ? general->MaxDlEditExit()
                                                                : sound->lMaxMailCountExit())
                << c.typed;
        }
        EXPECT_TRUE(errors.empty()) << "the user sees only the corrected value";
    }

    setText("lMaxMailCount", "0");
    setText("MaxDlEdit", "");
    leave("MaxDlEdit");
    ok();
    EXPECT_FALSE(prefs->isVisible());
    EXPECT_EQ(reread().Main.MAXMailCount, 0);
    EXPECT_EQ(reread().Main.MaxDownloadSize, 4096);
}

TEST_F(OptionPagesTest, OkWithANumberFieldThatIsNoNumberWritesNothing) {
    make(1);
    prefs->openPreferences();
    setText("MaxDlEdit", "lots");
    ok();
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_FALSE(iniExists());
    EXPECT_EQ(session.settings().Main.MaxDownloadSize, 4096);
}

// ----- plain options -----

TEST_F(OptionPagesTest, EveryOptionIsFilledAtOpeningAndStoredByOkOnly) {
    struct Case {
        const char* control;
        bool MainSettings::*field;
    };
    const Case cases[] = {
        {"CheckBox10", &MainSettings::Blinking},
        {"CheckBox6", &MainSettings::AnimIcons},
        {"SnapCheckBox", &MainSettings::SnapWindow},
        {"CheckBox12", &MainSettings::AlwaysOnTop},
        {"CheckBox13", &MainSettings::HideWhenOffline},
        {"RoundCheckBox", &MainSettings::Round},
        {"CheckBox11", &MainSettings::Floating},
        {"CheckBox7", &MainSettings::AutoFloat},
        {"CheckBox2", &MainSettings::KeepLogFile},
        {"dyktCheckBox", &MainSettings::DYKTStartup},
        {"RememberCheckBox", &MainSettings::KeepMailDB},
        {"popupMailListCheckBox", &MainSettings::PopupMailList},
        {"HidewhenEmptyCheckBox", &MainSettings::HideWhenEmpty},
        {"CheckBox16", &MainSettings::ConvertHTML},
        {"CheckBox17", &MainSettings::WrapText},
        {"CheckAllBox", &MainSettings::CheckAllWhenGoingOnline},
        {"CheckBox9", &MainSettings::AlwaysOffline},
        {"disconnectonoffline", &MainSettings::CutWhenOffline},
    };
    make(1);
    MainSettings& m = session.settings().Main;
    const MainSettings before = m;
    prefs->openPreferences();
    for (const Case& c : cases) {
        EXPECT_EQ(box(c.control)->isChecked(), m.*c.field) << c.control;
        box(c.control)->setChecked(!(m.*c.field));
    }
    // Cancel keeps every setting; the next opening shows them again.
    cancel();
    EXPECT_EQ(m, before);
    prefs->openPreferences();
    for (const Case& c : cases) {
        EXPECT_EQ(box(c.control)->isChecked(), before.*c.field) << c.control;
        box(c.control)->setChecked(!(before.*c.field));
    }
    ok();
    const Settings file = reread();
    for (const Case& c : cases) {
        EXPECT_EQ(m.*c.field, !(before.*c.field)) << c.control;
        // The message view's two options reach the file with the mail list's own section.
        if (c.field != &MainSettings::ConvertHTML && c.field != &MainSettings::WrapText) {
            EXPECT_EQ(file.Main.*c.field, !(before.*c.field)) << c.control;
        }
    }
    // The never-visible controls only carry their settings through.
    for (const char* hidden : {"disconnectonoffline", "CheckBox4", "CheckBox8"})
        EXPECT_TRUE(w<QWidget>(hidden)->isHidden()) << hidden;
}

TEST_F(OptionPagesTest, OkBringsTheCheckerWindowsMenuAndTrayInLine) {
    session.settings().Main.AlwaysOnTop = true;
    session.settings().Main.Floating = false;
    make(1);
    auto* onTop = window->popupMenu()->findChild<QAction*>("AlwaysonTop2");
    auto* floating = window->popupMenu()->findChild<QAction*>("Floating2");
    ASSERT_TRUE(onTop && floating);
    onTop->setChecked(true);
    window->tray().setStaticImage(1);
    prefs->openPreferences();
    box("CheckBox12")->setChecked(false);
    box("CheckBox11")->setChecked(true);
    box("CheckBox6")->setChecked(false);
    ok();
    EXPECT_FALSE(onTop->isChecked());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(floating->isChecked());
    EXPECT_TRUE(session.settings().Main.Floating);
    EXPECT_EQ(window->tray().image(), 0);

    // The checker window's own commands tick the dialog's boxes.
    prefs->openPreferences();
    onTop->trigger();
    EXPECT_TRUE(box("CheckBox12")->isChecked());
    floating->trigger();
    EXPECT_FALSE(box("CheckBox11")->isChecked());
    EXPECT_FALSE(w<QWidget>("TrackBar1")->isEnabled());
}

TEST_F(OptionPagesTest, SoundOccasionIsChosenOnceAndStoredByOk) {
    session.settings().Main.SoundItemIndex = 2;
    make(1);
    EXPECT_TRUE(w<QRadioButton>("RadioGroup2Item2")->isChecked());
    prefs->openPreferences();
    w<QRadioButton>("RadioGroup2Item3")->setChecked(true);
    cancel();
    // The occasion is not refilled: the choice stays until OK or the next start.
    session.settings().Main.SoundItemIndex = 0;
    prefs->openPreferences();
    EXPECT_TRUE(w<QRadioButton>("RadioGroup2Item3")->isChecked());
    ok();
    EXPECT_EQ(session.settings().Main.SoundItemIndex, 3);
    EXPECT_EQ(reread().Main.SoundItemIndex, 3);
}

// ----- floating -----

TEST_F(OptionPagesTest, FloatBackSliderSetsTheIntervalAtOnce) {
    session.settings().Main.Floating = true;
    session.settings().Main.Jumpback = 10;
    make(1);
    open("Floating");
    QSlider* s = slider("TrackBar1");
    // Opening shows the stored interval without rounding it to a step.
    EXPECT_EQ(s->value(), 4);
    EXPECT_EQ(w<QLabel>("Label17")->text(), "10 seconds");
    EXPECT_EQ(session.settings().Main.Jumpback, 10);

    const struct { int position, seconds; } cases[] = {{1, 1}, {6, 15}, {21, 60}, {2, 3}, {20, 57}};
    for (const auto& c : cases) {
        s->setValue(c.position);
        EXPECT_EQ(session.settings().Main.Jumpback, c.seconds) << c.position;
        EXPECT_EQ(w<QLabel>("Label17")->text(), QString::number(c.seconds) + " seconds.");
    }
    // The keyboard cannot drive it past its ends.
    s->triggerAction(QAbstractSlider::SliderToMaximum);
    s->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(session.settings().Main.Jumpback, 60);
    s->triggerAction(QAbstractSlider::SliderToMinimum);
    s->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(session.settings().Main.Jumpback, 1);
    // The interval is no OK option: Cancel keeps it.
    cancel();
    EXPECT_EQ(session.settings().Main.Jumpback, 1);
}

TEST_F(OptionPagesTest, FloatBackControlsFollowTheFloatingBox) {
    session.settings().Main.Floating = false;
    make(1);
    open("Floating");
    for (const char* c : {"CheckBox7", "TrackBar1", "Label17"})
        EXPECT_FALSE(w<QWidget>(c)->isEnabled()) << c;
    box("CheckBox11")->setChecked(true);
    for (const char* c : {"CheckBox7", "TrackBar1", "Label17"})
        EXPECT_TRUE(w<QWidget>(c)->isEnabled()) << c;
    cancel();
    // Refilled from the setting at the next opening.
    prefs->openPreferences();
    EXPECT_FALSE(box("CheckBox11")->isChecked());
    EXPECT_FALSE(w<QWidget>("Label17")->isEnabled());
}

TEST_F(OptionPagesTest, ResetWindowPositionsMovesTheCheckerAtOnce) {
    make(2);
    QWidget mailList;
    mailList.resize(600, 300);
    window->placement().setMailListWindow(&mailList);
    window->move(5, 5);
    open("Floating");
    click("Button1");
    const MainSettings& m = session.settings().Main;
    const int sw = 800, sh = 800; // the offscreen screen
    EXPECT_EQ(m.defaultX, sw - window->width());
    EXPECT_EQ(m.defaultY, sh - window->height() - 30);
    EXPECT_EQ(m.alternativeX, 1);
    EXPECT_EQ(m.alternativeY, m.defaultY);
    EXPECT_EQ(QPoint(m.currentX, m.currentY), QPoint(m.defaultX, m.defaultY));
    EXPECT_EQ(window->pos(), QPoint(m.defaultX, m.defaultY));
    EXPECT_EQ(mailList.pos(), QPoint((sw - 600) / 2, (sh - 300) / 2));
    EXPECT_EQ(mailList.size(), QSize(425, 167));
}

// ----- sizes -----

TEST_F(OptionPagesTest, SizeSlidersResizeTheCheckerAtOnceAndCancelKeepsIt) {
    make(2);
    open("Sizes");
    const int width = window->width();
    const int height = window->height();
    slider("TrackBar3")->setValue(40); // field width
    EXPECT_EQ(session.settings().Main.CheckerWidth, 40);
    EXPECT_GT(window->width(), width);
    slider("TrackBar2")->setValue(30); // field height
    EXPECT_GT(window->height(), height);
    slider("TrackBar6")->setValue(20);
    EXPECT_EQ(session.settings().Main.FontSize, 20);
    const QSize grown = window->size();
    cancel();
    EXPECT_EQ(window->size(), grown);
    EXPECT_EQ(session.settings().Main.CheckerWidth, 40);
    EXPECT_EQ(session.settings().Main.CheckerHeight, 30);

    open("Sizes");
    EXPECT_EQ(slider("TrackBar3")->value(), 40);
    slider("TrackBar5")->triggerAction(QAbstractSlider::SliderToMaximum);
    slider("TrackBar5")->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(session.settings().Main.HSpace, 20);
    click("ResetMetrics");
    const MainSettings& m = session.settings().Main;
    EXPECT_EQ(m.CheckerHeight, 18);
    EXPECT_EQ(m.CheckerWidth, 20);
    EXPECT_EQ(m.VSpace, 8);
    EXPECT_EQ(m.HSpace, 4);
    EXPECT_EQ(m.FontSize, 8);
    EXPECT_EQ(slider("TrackBar3")->value(), 20);
    EXPECT_EQ(slider("TrackBar5")->value(), 4);
    EXPECT_EQ(window->EShowVar(1)->size(),
              QSize(window->layout().fields[0].rect.width, window->layout().fields[0].rect.height));
    EXPECT_LT(window->width(), grown.width());
}

TEST_F(OptionPagesTest, OpeningDoesNotClipAStoredSizeOutsideTheSliders) {
    session.settings().Main.CheckerWidth = 70;
    make(1);
    const QSize size = window->size();
    open("Sizes");
    EXPECT_EQ(slider("TrackBar3")->value(), 50);
    EXPECT_EQ(session.settings().Main.CheckerWidth, 70);
    EXPECT_EQ(window->size(), size);
}

// ----- transparency -----

TEST_F(OptionPagesTest, TransparencyControlsNeedForceTransparency) {
    MainSettings& m = session.settings().Main;
    m.ForceTransparency = false;
    m.Transparency = true;
    m.TransparencyValue = 200;
    make(1);
    window->ApplyOpacity();
    open("Checker Window");
    EXPECT_FALSE(box("AlphaCheckBox")->isEnabled());
    EXPECT_FALSE(slider("AlphaSlider")->isEnabled());
    open("Default Colors");
    EXPECT_FALSE(box("AlphaCheckBox")->isEnabled());
    EXPECT_FALSE(slider("AlphaSlider")->isEnabled());
    slider("AlphaSlider")->setValue(40);
    EXPECT_NEAR(window->windowOpacity(), 200 / 255.0, 0.01);
    ok();
    EXPECT_EQ(m.TransparencyValue, 200);
    EXPECT_NEAR(window->windowOpacity(), 200 / 255.0, 0.01);
}

TEST_F(OptionPagesTest, TransparencyPreviewsAtOnceAndOnlyOkKeepsIt) {
    MainSettings& m = session.settings().Main;
    m.ForceTransparency = true;
    m.Transparency = true;
    m.TransparencyValue = 200;
    make(1);
    window->ApplyOpacity();
    open("Checker Window");
    ASSERT_TRUE(slider("AlphaSlider")->isEnabled());
    EXPECT_EQ(slider("AlphaSlider")->value(), 200);
    slider("AlphaSlider")->setValue(100);
    EXPECT_NEAR(window->windowOpacity(), 100 / 255.0, 0.01);
    cancel();
    EXPECT_NEAR(window->windowOpacity(), 200 / 255.0, 0.01);
    EXPECT_EQ(m.TransparencyValue, 200);

    // Unticked: opaque and the slider out of reach, also after the colour page's refresh.
    open("Checker Window");
    box("AlphaCheckBox")->setChecked(false);
    EXPECT_EQ(slider("AlphaSlider")->value(), 255);
    EXPECT_FALSE(slider("AlphaSlider")->isEnabled());
    open("Default Colors");
    EXPECT_FALSE(slider("AlphaSlider")->isEnabled());
    box("AlphaCheckBox")->setChecked(true);
    EXPECT_EQ(slider("AlphaSlider")->value(), 200);
    slider("AlphaSlider")->setValue(120);
    ok();
    EXPECT_TRUE(m.Transparency);
    EXPECT_EQ(m.TransparencyValue, 120);
    EXPECT_NEAR(window->windowOpacity(), 120 / 255.0, 0.01);
    EXPECT_EQ(reread().Main.TransparencyValue, 120);
}

// ----- colours -----

TEST_F(OptionPagesTest, SwatchChangeIsAppliedAndWrittenAtOnceAndCancelKeepsIt) {
    make(2);
    open("Default Colors");
    const CheckerColors before = session.settings().Main.Colors;
    colorAnswer = 0x123456;
    click("CActive");
    ASSERT_EQ(colorAsked.size(), 1u);
    EXPECT_EQ(colorAsked[0], before.Active);
    EXPECT_EQ(prefs->page<ColorsPage>()->swatchColor(ColorsPage::CActive), 0x123456u);
    colorAnswer = 0x0000FF;
    click("CFont");
    EXPECT_EQ(window->EShowVar(1)->fontColor(), 0x0000FFu);
    cancel();

    CheckerColors expected = before;
    expected.Active = 0x123456;
    expected.Font = 0x0000FF;
    expected.BorderSize = 0;
    EXPECT_EQ(session.settings().Main.Colors, expected);
    EXPECT_EQ(keysOf("BlueColorSet"),
              (std::vector<std::string>{"BorderSize", "Back", "Active", "Idle", "Connected",
                                        "Error", "Font"}));
    EXPECT_EQ(reread().Main.Colors, expected);

    // A cancelled colour dialog changes nothing but still writes the set.
    colorAnswer.reset();
    open("Default Colors");
    click("CIdle");
    EXPECT_EQ(session.settings().Main.Colors, expected);

    // After OK the colours in use are those of the file.
    ok();
    EXPECT_EQ(session.settings().Main.Colors, reread().Main.Colors);
    EXPECT_EQ(session.settings().Main.Colors, expected);
    EXPECT_TRUE(session.settings().Main.BlueSetInUse);
}

TEST_F(OptionPagesTest, ResetColorsResetsEveryAccountAndTheAccountPageKeepsIt) {
    make(3);
    for (int a = 1; a <= 3; ++a) {
        session.settings().account(a).ActiveColor = 0x010101u * static_cast<unsigned>(a);
        session.settings().account(a).IdleColor = 0x020202u * static_cast<unsigned>(a);
    }
    session.settings().Main.Colors.Back = 0x00FF00;
    prefs->openPreferences();
    prefs->selectNode(2); // the account page holds account 2
    open("Default Colors");
    click("ResetColorsButton");
    const CheckerColors blue = CheckerColors::blueDefaults();
    EXPECT_EQ(session.settings().Main.Colors, blue);
    EXPECT_EQ(prefs->page<ColorsPage>()->swatchColor(ColorsPage::CBack), blue.Back);
    for (int a = 1; a <= 3; ++a) {
        EXPECT_EQ(session.settings().account(a).ActiveColor, blue.Active) << a;
        EXPECT_EQ(session.settings().account(a).IdleColor, blue.Idle) << a;
    }
    EXPECT_EQ(reread().Main.Colors, blue);
    // OK stores the account page into account 2 again: the reset colours stay.
    ok();
    const Settings file = reread();
    for (int a = 1; a <= 3; ++a) {
        EXPECT_EQ(session.settings().account(a).ActiveColor, blue.Active) << a;
        EXPECT_EQ(file.account(a).ActiveColor, blue.Active) << a;
        EXPECT_EQ(file.account(a).IdleColor, blue.Idle) << a;
    }
}

TEST_F(OptionPagesTest, GraySetLeavesOnlyImportEnabledAndOkKeepsIt) {
    session.settings().Main.Colors = CheckerColors::gray();
    session.settings().Main.BlueSetInUse = false;
    make(1);
    open("Default Colors");
    EXPECT_TRUE(box("CheckBox8")->isChecked());
    for (const char* c : {"CBack", "CActive", "CIdle", "CBlink", "CFont", "CError", "CBackLabel",
                          "CErrorLabel", "ResetColorsButton"})
        EXPECT_FALSE(w<QWidget>(c)->isEnabled()) << c;
    EXPECT_TRUE(w<QWidget>("ImportWinColors")->isEnabled());
    ok();
    EXPECT_FALSE(session.settings().Main.BlueSetInUse);
    EXPECT_EQ(session.settings().Main.Colors, CheckerColors::gray());
}

// Desktop colour references are painted in the colours of the desktop's palette.
TEST_F(OptionPagesTest, ImportedDesktopColorsAreStoredAsReferencesAndPaintedFromThePalette) {
    const QPalette saved = QApplication::palette();
    QPalette pal = saved;
    pal.setColor(QPalette::Button, QColor(10, 20, 30));
    pal.setColor(QPalette::Light, QColor(200, 210, 220));
    pal.setColor(QPalette::Mid, QColor(90, 80, 70));
    pal.setColor(QPalette::Highlight, QColor(0, 120, 215));
    pal.setColor(QPalette::ButtonText, QColor(250, 240, 5));
    QApplication::setPalette(pal);

    make(2);
    session.settings().account(2).Active = false; // shows its idle colour
    open("Default Colors");
    click("ImportWinColors");
    const CheckerColors refs = desktopColorReferences();
    EXPECT_EQ(refs.Back, 0x8000000Fu);
    EXPECT_EQ(refs.Active, 0x80000014u);
    EXPECT_EQ(refs.Idle, 0x80000010u);
    EXPECT_EQ(refs.Connected, 0x8000000Du);
    EXPECT_EQ(refs.Error, 255u);
    EXPECT_EQ(refs.Font, 0x80000012u);
    EXPECT_EQ(session.settings().Main.Colors, refs);
    EXPECT_EQ(reread().Main.Colors, refs);
    for (int a = 1; a <= 2; ++a) {
        EXPECT_EQ(session.settings().account(a).ActiveColor, refs.Active);
        EXPECT_EQ(session.settings().account(a).IdleColor, refs.Idle);
    }
    window->SetColorSet();
    EXPECT_EQ(paintedAt(window->EShowVar(1), 1, 1), pal.color(QPalette::Light));
    EXPECT_EQ(paintedAt(window->EShowVar(2), 1, 1), pal.color(QPalette::Mid));
    EXPECT_EQ(paintedAt(window->panel(), 0, 0), pal.color(QPalette::Button));
    EXPECT_EQ(CheckerField::toQColor(refs.Connected), pal.color(QPalette::Highlight));
    EXPECT_EQ(CheckerField::toQColor(refs.Font), pal.color(QPalette::ButtonText));
    EXPECT_EQ(CheckerField::toQColor(refs.Error), QColor(255, 0, 0));
    // An index beyond the scheme's is no button face in disguise.
    EXPECT_EQ(CheckerField::toQColor(0x80000104u), pal.color(QPalette::Window));
    // A later change of the desktop's palette shows without touching the settings.
    pal.setColor(QPalette::Light, QColor(1, 2, 3));
    QApplication::setPalette(pal);
    EXPECT_EQ(paintedAt(window->EShowVar(1), 1, 1), QColor(1, 2, 3));
    QApplication::setPalette(saved);
}

// ----- sounds -----

class SoundPageTest : public OptionPagesTest {
protected:
    void SetUp() override {
        make(1);
        window->setSoundPlayer(&player);
        incoming = dir.file("ding.wav");
        std::ofstream(incoming) << "RIFF";
        open("Sound Settings");
    }
    test::RecordingSoundPlayer player;
    std::string incoming;
};

TEST_F(SoundPageTest, BrowseStoresAnExistingFileAtOnce) {
    const MainSettings before = session.settings().Main;
    struct Case {
        std::string answer;
        bool stored;
    };
    const Case cases[] = {
        {"", false},                      // the dialog was cancelled
        {dir.file("missing.wav"), false}, // no such file
        {dir.path().string(), false},     // a folder
        {incoming, true},
    };
    for (const Case& c : cases) {
        fileAnswer = c.answer;
        click("Button4");
        EXPECT_EQ(session.settings().Main.IncomingSound, c.stored ? incoming : before.IncomingSound)
            << c.answer;
    }
    EXPECT_EQ(fileTitles.back(), "New Mail Sound");
    EXPECT_EQ(w<QLabel>("IncomingSoundLabel")->text(), "ding.wav");
    EXPECT_EQ(session.settings().Main.MailCountSound, before.MailCountSound);
    click("Button5");
    EXPECT_EQ(session.settings().Main.MailCountSound, incoming);
    EXPECT_EQ(w<QLabel>("MailCountSoundLabel")->text(), "ding.wav");
    // Stored at once: Cancel keeps the files.
    cancel();
    EXPECT_EQ(session.settings().Main.IncomingSound, incoming);
    EXPECT_TRUE(errors.empty());
}

TEST_F(SoundPageTest, AFileNameWithALineBreakIsRefused) {
    const std::string odd = dir.file("two\nlines.wav");
    std::ofstream(odd) << "RIFF";
    const std::string before = session.settings().Main.IncomingSound;
    fileAnswer = odd;
    click("Button4");
    EXPECT_EQ(session.settings().Main.IncomingSound, before);
    EXPECT_EQ(errors, std::vector<std::string>{SoundPage::LineBreakText});
    // The settings can still be written.
    ok();
    EXPECT_FALSE(prefs->isVisible());
    EXPECT_EQ(reread().Main.IncomingSound, before);
}

TEST_F(SoundPageTest, PlayUsesTheProgramsPlayerAndReportsAFailure) {
    session.settings().Main.IncomingSound = incoming;
    session.settings().Main.MailCountSound = dir.file("bip.wav");
    click("Button3");
    click("Button6");
    EXPECT_EQ(player.files(), (std::vector<std::string>{incoming, dir.file("bip.wav")}));
    EXPECT_TRUE(errors.empty());
    player.setFailing({incoming});
    click("Button3");
    EXPECT_EQ(errors, std::vector<std::string>{"Sound File Could not be Played"});
    EXPECT_EQ(session.settings().Main.IncomingSound, incoming);
    EXPECT_TRUE(w<QWidget>("Button3")->isEnabled());
    window->setSoundPlayer(nullptr);
    click("Button6");
    EXPECT_EQ(errors.size(), 2u);
}

TEST_F(OptionPagesTest, PlayingFilesThatAreNoSoundEndsWithTheError) {
    make(1);
    QtSoundPlayer real;
    real.setAllowanceMs(5000);
    window->setSoundPlayer(&real);
    const std::string text = dir.file("note.wav");
    std::ofstream(text) << "This is a note, not a sound.\n";
    const std::string huge = dir.file("huge.wav");
    {
        std::ofstream f(huge, std::ios::binary);
        f.seekp((1LL << 30) - 1);
        f.put('\0');
    }
    open("Sound Settings");
    for (const std::string& file : {text, huge, dir.file("missing.wav")}) {
        errors.clear();
        session.settings().Main.IncomingSound = file;
        click("Button3");
        EXPECT_EQ(errors, std::vector<std::string>{"Sound File Could not be Played"}) << file;
    }
}

// ----- log -----

TEST_F(OptionPagesTest, DisplayLogFileOpensTheLogOrSaysWhy) {
    make(1);
    std::vector<std::string> opened;
    bool viewerWorks = true;
    prefs->page<LogPage>()->setViewer([&](const std::string& path) {
        opened.push_back(path);
        return viewerWorks;
    });
    open("Log File");
    click("Button2");
    EXPECT_EQ(errors, std::vector<std::string>{"There are no logged Events"});
    EXPECT_TRUE(opened.empty());
    std::ofstream(dir.file("tarnlog.log")) << "x\r\n";
    click("Button2");
    EXPECT_EQ(opened, std::vector<std::string>{dir.file("tarnlog.log")});
    viewerWorks = false;
    click("Button2");
    EXPECT_EQ(errors.back(), kNoExternalViewer);
}

} // namespace
} // namespace tarn

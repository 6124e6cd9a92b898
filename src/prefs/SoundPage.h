#pragma once

#include "prefs/PrefsPage.h"

#include <memory>
#include <string>

namespace Ui {
class SoundPage;
}

namespace tarn {

// The "Sound Settings" page: when sounds play and which files. The files are chosen and
// stored at once; "Play" goes through the program's sound player.
class SoundPage : public PrefsPage {
    Q_OBJECT
public:
    static constexpr const char* BrowseTitle = "New Mail Sound";
    static constexpr const char* BrowseFilter = "Wave-Datei (*.wav)";
    static constexpr const char* NotPlayedText = "Sound File Could not be Played";
    static constexpr const char* LineBreakText =
        "The name of this sound file holds a line break and cannot be stored.";

    explicit SoundPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~SoundPage() override;

    void formCreate() override;
    void fill() override;

    // Browse... for the incoming and the mail-count sound.
    void BitBtn1Click();
    void BitBtn3Click();
    // Play the incoming and the mail-count sound.
    void BitBtn2Click();
    void BitBtn4Click();
    // The repeat count's check when the focus leaves it.
    void lMaxMailCountExit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void browse(std::string& setting);
    void play(const std::string& file);
    void showFileNames();

    std::unique_ptr<Ui::SoundPage> m_ui;
};

} // namespace tarn

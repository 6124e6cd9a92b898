#pragma once

#include "core/CheckerColors.h"
#include "prefs/PrefsPage.h"

#include <array>
#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;

namespace Ui {
class ColorsPage;
}

namespace tarn {

// The "Colors" page (tree node "Default Colors"): six swatches of the colour set in use.
// Every colour command applies and writes the set at once, so Cancel keeps it.
class ColorsPage : public PrefsPage {
    Q_OBJECT
public:
    explicit ColorsPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~ColorsPage() override;

    void fill() override;
    void becameCurrent() override { CButtonsUpdate(); }

    // The swatches, in the order of the colour set's entries Back, Active, Idle, Connected,
    // Font, Error.
    enum Swatch { CBack, CActive, CIdle, CBlink, CFont, CError, SwatchCount };
    void swatchClick(Swatch swatch); // CBackClick and its siblings
    void ResetColorsButtonClick();
    void ImportWinColorsClick();
    void CButtonsUpdate();
    void ColorPickerEnabled();
    // The colour a swatch shows.
    std::uint32_t swatchColor(Swatch swatch) const;

private:
    void setSwatch(Swatch swatch, std::uint32_t color);
    void showColorSet();
    void UpdateCustomColors();
    void WriteBlueColorSet();
    // Account colours changed under the account page: it shows them again, so that storing
    // the page later does not bring the old ones back.
    void accountColorsChanged();

    std::unique_ptr<Ui::ColorsPage> m_ui;
    std::array<QPushButton*, SwatchCount> m_swatches{};
    std::array<QLabel*, SwatchCount> m_labels{};
    std::array<std::uint32_t, SwatchCount> m_colors{};
};

} // namespace tarn

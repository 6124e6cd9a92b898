#pragma once

#include <cstdint>

namespace tarn {

// Colour set of the checker window. Colours are 0x00BBGGRR, or 0x80000000 plus the index of a
// colour of the desktop scheme.
struct CheckerColors {
    int BorderSize = 0;
    std::uint32_t Back = 0;
    std::uint32_t Active = 0;
    std::uint32_t Idle = 0;
    std::uint32_t Connected = 0;
    std::uint32_t Error = 0;
    std::uint32_t Font = 0;

    bool operator==(const CheckerColors&) const = default;

    // Defaults of the section BlueColorSet.
    static constexpr CheckerColors blueDefaults() {
        return {0, 6684672, 10514544, 9453632, 48093, 3022219, 16777215};
    }
    // The fixed gray set: follows the desktop scheme's menu colour for the background.
    static constexpr CheckerColors gray() {
        return {1, systemColor(4), 16777215, 8421504, 32768, 255, 0};
    }
    static constexpr std::uint32_t systemColor(std::uint32_t index) { return 0x80000000u + index; }
};

} // namespace tarn

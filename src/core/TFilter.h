#pragma once

#include <string>

namespace tarn {

// One filter rule as stored in the "Filter k" sections; the defaults are the reader's.
struct TFilter {
    int IfCondition = -1;
    bool Active = false;
    int Account = -1; // 0 = any account, -1 = none
    int Action = -1;
    std::string Argument;
    std::string SoundFile;
    int Icon = 0;

    bool operator==(const TFilter&) const = default;
};

} // namespace tarn

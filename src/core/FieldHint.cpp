#include "core/FieldHint.h"

namespace tarn {

std::string fieldHintText(const std::string& accountHint, const FieldHintState& state) {
    std::string out = accountHint;
    auto line = [&out](const std::string& text) {
        if (!out.empty())
            out += '\n';
        out += text;
    };
    if (state.offline)
        line("offline");
    if (!state.pushDownSince.empty())
        line("push: reconnecting since " + state.pushDownSince);
    return out;
}

} // namespace tarn

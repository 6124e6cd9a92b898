#pragma once

#include <string>

namespace tarn {

// What a checker field's hint adds to its account's text: the states a user cannot see
// from the count alone.
struct FieldHintState {
    bool offline = false;      // the program is offline: no check runs
    std::string pushDownSince; // "HH:MM" since a push account's idle connection is down
};

// The account's hint, then one line per state that holds: "offline" and
// "push: reconnecting since HH:MM".
std::string fieldHintText(const std::string& accountHint, const FieldHintState& state);

} // namespace tarn

#pragma once

#include "core/AccountSettings.h"
#include "core/CheckerColors.h"
#include "core/EMailListSettings.h"
#include "core/MainSettings.h"
#include "core/TFilter.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace tarn {

class IniFile;

// Every key of tarn.ini is declared once, in the tables of SettingKeys.cpp: its name, the model
// field that holds it (which gives its type and, through the field's initialiser, its default),
// a default computed at reading time where there is one, and how it is stored.
// The reader, the writer and the preferences' fill and commit all go through these tables, so a
// new key is one line there plus its field in the model.

enum class SettingType { Text, Integer, Boolean, Colour };

// A text, integer, boolean or colour field of one of the settings records.
template <typename... Records> struct SettingFieldOf {
    using type = std::variant<std::string Records::*..., int Records::*..., bool Records::*...,
                              std::uint32_t Records::*...>;
};
using SettingField =
    SettingFieldOf<MainSettings, AccountSettings, TFilter, CheckerColors, EMailListSettings>::type;

using SettingValue = std::variant<std::string, int, bool, std::uint32_t>;

// The records a key list reads into or writes from. A key reaches only the record of its field's
// kind; the others may stay null.
struct SettingRecords {
    MainSettings* main = nullptr;
    AccountSettings* account = nullptr;
    TFilter* filter = nullptr;
    CheckerColors* colors = nullptr;
    EMailListSettings* list = nullptr;
};

struct WindowSize {
    int width = 0;
    int height = 0;
};

// What the defaults computed at reading time depend on.
struct SettingContext {
    std::string workingFolder;                            // the default sound files live here
    int number = 0;                                       // the account being read (its section)
    CheckerColors colors = CheckerColors::blueDefaults(); // the colour set in use
    WindowSize screen;                                    // the primary screen
    WindowSize window; // the checker window as laid out (known after the layout)
    // The mail list's column widths as designed: Subject, Sender, Size, Account, Action, Date.
    std::array<int, 6> designColumnWidths{};
};

// How a key is stored, beyond its type.
enum SettingFlag : unsigned {
    kReadOnly = 1u << 0,    // read, never written
    kWriteOnly = 1u << 1,   // written, never read
    kScrambled = 1u << 2,   // a password: scrambled in the file, plain in the model
    kAfterLayout = 1u << 3, // its default needs the laid-out window: read after the accounts
    kPositive = 1u << 4,    // an integer of 0 or below reads as the default
};

// Text defaults are views into the default records, which outlive the tables.
template <typename T> struct SettingConstantOf { using type = T; };
template <> struct SettingConstantOf<std::string> { using type = std::string_view; };
using SettingConstant = std::variant<std::string_view, int, bool, std::uint32_t>;

// The default record of each settings kind, the source of the keys' constant defaults. Text
// defaults are views into it, so it lives as long as the program.
template <typename R> const R& modelDefaults() {
    static const R record{};
    return record;
}
// The colour set section's defaults are the blue set.
template <> inline const CheckerColors& modelDefaults<CheckerColors>() {
    static const CheckerColors record = CheckerColors::blueDefaults();
    return record;
}

struct SettingKey {
    // A default that depends on where and when the key is read; `readSoFar` holds the keys of
    // the same list read before this one.
    using Computed = SettingValue (*)(const SettingRecords& readSoFar, const SettingContext&);

    std::string_view name;
    SettingField field;
    SettingConstant constant; // the default, unless `computed` is set (see modelDefaults)
    Computed computed = nullptr;
    unsigned flags = 0;
    // A boolean written as one of two words (false word, true word) instead of 0 or 1.
    std::array<std::string_view, 2> words{};

    // A key whose default is its field's value in the model's default record: the record's
    // initialisers are the only statement of the constant defaults.
    template <typename R, typename T>
    SettingKey(std::string_view n, T R::*f, unsigned fl = 0)
        : name(n), field(f), constant(typename SettingConstantOf<T>::type(modelDefaults<R>().*f)),
          flags(fl) {}
    template <typename R, typename T>
    SettingKey(std::string_view n, T R::*f, Computed def, unsigned fl = 0)
        : name(n), field(f), computed(def), flags(fl) {}
    template <typename R>
    SettingKey(std::string_view n, bool R::*f, std::array<std::string_view, 2> w, unsigned fl)
        : name(n), field(f), constant(false), flags(fl), words(w) {}

    SettingType type() const;
};

// The key lists, each in the writer's order. The numbered sections have no fixed name: accounts
// are "1", "2", ..., filters "Filter 0", "Filter 1", ...
inline constexpr std::string_view kMainSection = "Main";
inline constexpr std::string_view kMetricsSection = "Metrics";
inline constexpr std::string_view kColorSetSection = "BlueColorSet";
inline constexpr std::string_view kEMailListSection = "EMailList";

std::span<const SettingKey> mainKeys();      // section Main
std::span<const SettingKey> metricsKeys();   // section Metrics
std::span<const SettingKey> accountKeys();   // section of each account
std::span<const SettingKey> filterKeys();    // section of each filter
std::span<const SettingKey> colorSetKeys();  // section BlueColorSet
std::span<const SettingKey> emailListKeys(); // section EMailList

// The key of that name in the list (names compare without regard to case, as in the file), or
// null.
const SettingKey* findSettingKey(std::span<const SettingKey> keys, std::string_view name);

// The value of the key's field, and its replacement. A value of another type than the field's
// throws TarnError; a record the key needs that is missing is a programming error
// (std::logic_error).
SettingValue settingValue(const SettingKey& key, const SettingRecords& records);
void setSettingValue(const SettingKey& key, const SettingRecords& records,
                     const SettingValue& value);

// The key's default at reading time.
SettingValue settingDefault(const SettingKey& key, const SettingRecords& readSoFar,
                            const SettingContext& context);
// Sets every readable key's field to its default.
void applySettingDefaults(std::span<const SettingKey> keys, const SettingRecords& records,
                          const SettingContext& context);

enum class SettingReadPass {
    BeforeLayout, // every readable key but those marked kAfterLayout
    AfterLayout,  // only the keys marked kAfterLayout
};
// Reads the keys of one pass from the section into the records, in list order. A missing or
// unreadable value takes the key's default.
void readSettingKeys(const IniFile& ini, std::string_view section, std::span<const SettingKey> keys,
                     const SettingRecords& records, const SettingContext& context,
                     SettingReadPass pass = SettingReadPass::BeforeLayout);
// Writes every writable key into the section in list order. Text is written as one line: line
// breaks and NUL bytes become blanks.
void writeSettingKeys(IniFile& ini, std::string_view section, std::span<const SettingKey> keys,
                      const SettingRecords& records);

} // namespace tarn

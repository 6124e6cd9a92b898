#include "core/SettingKeys.h"

#include "core/AsciiText.h"
#include "core/IniFile.h"
#include "core/PasswordScrambling.h"
#include "core/Settings.h"
#include "core/TarnError.h"

#include <algorithm>
#include <stdexcept>

namespace tarn {

namespace {

using M = MainSettings;
using A = AccountSettings;
using F = TFilter;
using C = CheckerColors;
using L = EMailListSettings;
using Ctx = SettingContext;
using Recs = SettingRecords;

// Computed defaults.
template <int WindowPositions::*P> SettingValue position(const Recs&, const Ctx& c) {
    return defaultWindowPositions(c.screen, c.window).*P;
}
template <std::size_t I> SettingValue designColumn(const Recs&, const Ctx& c) {
    return c.designColumnWidths[I];
}

// Halved with truncation toward zero, as integer division does.
int centred(int screen, int size) {
    return static_cast<int>((static_cast<long long>(screen) - size) / 2);
}

const SettingKey kMain[] = {
    {"on/offline", &M::OnOffline},
    {"AlwaysOffline", &M::AlwaysOffline},
    {"ReleaseNr", &M::ReleaseNr},
    {"AnimIcons", &M::AnimIcons},
    {"Blinking", &M::Blinking},
    {"Jumpback", &M::Jumpback},
    {"AutoFloat", &M::AutoFloat},
    {"Hidden", &M::Hidden},
    {"HideWhenOffline", &M::HideWhenOffline},
    {"DYKTStartup", &M::DYKTStartup},
    {"PopupMailList", &M::PopupMailList},
    {"HideWhenEmpty", &M::HideWhenEmpty},
    {"defaultX", &M::defaultX, position<&WindowPositions::defaultX>, kAfterLayout},
    {"defaultY", &M::defaultY, position<&WindowPositions::defaultY>, kAfterLayout},
    {"alternativeX", &M::alternativeX, position<&WindowPositions::alternativeX>, kAfterLayout},
    {"alternativeY", &M::alternativeY, position<&WindowPositions::alternativeY>, kAfterLayout},
    {"currentX", &M::currentX, position<&WindowPositions::currentX>, kAfterLayout},
    {"currentY", &M::currentY, position<&WindowPositions::currentY>, kAfterLayout},
    {"ColorSet", &M::BlueSetInUse, {"gray", "blue"}, kWriteOnly},
    {"ECount", &M::ECount},
    {"MailCountSound", &M::MailCountSound,
     [](const Recs&, const Ctx& c) -> SettingValue {
         return joinPath(c.workingFolder, "bip.wav");
     }},
    {"IncomingSound", &M::IncomingSound,
     [](const Recs&, const Ctx& c) -> SettingValue {
         return joinPath(c.workingFolder, "incoming.wav");
     }},
    {"SoundItemIndex", &M::SoundItemIndex},
    {"MAXMailCount", &M::MAXMailCount},
    {"PrefsLevel", &M::PrefsLevel},
    {"Floating", &M::Floating},
    {"AlwaysOnTop", &M::AlwaysOnTop},
    {"KeepLogFile", &M::KeepLogFile},
    {"Transparency", &M::Transparency},
    {"TransparencyValue", &M::TransparencyValue},
    {"Round", &M::Round},
    {"CheckAllWhenGoingOnline", &M::CheckAllWhenGoingOnline},
    {"MaxDownloadSize", &M::MaxDownloadSize},
    {"CutWhenOffline", &M::CutWhenOffline},
    {"SnapWindow", &M::SnapWindow},
    {"keepMailDB", &M::KeepMailDB},
    {"FilterCount", &M::FilterCount},
    {"DesktopNotify", &M::DesktopNotify},
    {"PasswordsInFile", &M::PasswordsInFile},
    {"ForceTransparency", &M::ForceTransparency, kReadOnly},
};

// A field or a font of no size would leave a window without visible fields.
const SettingKey kMetrics[] = {
    {"CheckerWidth", &M::CheckerWidth, kPositive},
    {"CheckerHeight", &M::CheckerHeight, kPositive},
    {"VSpace", &M::VSpace},
    {"HSpace", &M::HSpace},
    {"FontSize", &M::FontSize, kPositive},
};

const SettingKey kAccount[] = {
    {"Name", &A::Name,
     [](const Recs&, const Ctx& c) -> SettingValue {
         return "Account " + std::to_string(c.number);
     }},
    {"MailServerType", &A::MailServerType},
    {"IMAPMailBoxName", &A::IMAPMailBoxName},
    {"Host", &A::Host},
    {"ActiveColor", &A::ActiveColor,
     [](const Recs&, const Ctx& c) -> SettingValue { return c.colors.Active; }},
    {"IdleColor", &A::IdleColor,
     [](const Recs&, const Ctx& c) -> SettingValue { return c.colors.Idle; }},
    {"UserID", &A::UserID},
    {"Password", &A::Password, kScrambled},
    {"SavePwd", &A::SavePwd},
    {"Timer", &A::Timer},
    {"Active", &A::Active},
    {"Sound", &A::Sound},
    {"Show", &A::Show},
    {"List", &A::List},
    {"RetrieveAllBodies", &A::RetrieveAllBodies},
    {"CustomMailClientPath", &A::CustomMailClientPath},
    {"DefaultMailClient", &A::DefaultMailClient},
    {"Security", &A::Security},
    {"TLSFingerprint", &A::TLSFingerprint},
    {"Push", &A::Push},
    {"PasswordStore", &A::PasswordStore},
    {"SecretId", &A::SecretId},
    {"AuthMethod", &A::AuthMethod},
    {"OAuthProvider", &A::OAuthProvider},
    {"OAuthAuthorizeURL", &A::OAuthAuthorizeURL},
    {"OAuthTokenURL", &A::OAuthTokenURL},
    {"OAuthClientID", &A::OAuthClientID},
    {"OAuthClientSecret", &A::OAuthClientSecret, kScrambled},
    {"OAuthScope", &A::OAuthScope},
    {"PasswordCommand", &A::PasswordCommand},
    {"OAuthToken", &A::OAuthRefreshToken, kScrambled},
    {"OAuthTokenStore", &A::OAuthTokenStore},
};

const SettingKey kFilter[] = {
    {"IfCondition", &F::IfCondition},
    {"Active", &F::Active},
    {"Account", &F::Account},
    {"Action", &F::Action},
    {"Argument", &F::Argument},
    {"SoundFile", &F::SoundFile},
    {"Icon", &F::Icon},
};

const SettingKey kColorSet[] = {
    {"BorderSize", &C::BorderSize},
    {"Back", &C::Back},
    {"Active", &C::Active},
    {"Idle", &C::Idle},
    {"Connected", &C::Connected},
    {"Error", &C::Error},
    {"Font", &C::Font},
};

// The column keys are read one after another, each default being the width of the list's column
// at the key's position at that moment: Action takes the fourth (Account) column's design width,
// then Account the fifth, which now holds the Action width just read.
const SettingKey kEMailList[] = {
    {"Width", &L::Width},
    {"Height", &L::Height},
    {"X", &L::X,
     [](const Recs& r, const Ctx& c) -> SettingValue {
         return centred(c.screen.width, r.list->Width);
     }},
    {"Y", &L::Y,
     [](const Recs& r, const Ctx& c) -> SettingValue {
         return centred(c.screen.height, r.list->Height);
     }},
    {"ShowStatusBar", &L::ShowStatusBar},
    {"ShowToolBar", &L::ShowToolBar},
    {"Column_Subject_Width", &L::Column_Subject_Width,
     [](const Recs&, const Ctx& c) -> SettingValue { return c.designColumnWidths[0] - 32; }},
    {"Column_Sender_Width", &L::Column_Sender_Width, designColumn<1>},
    {"Column_Size_Width", &L::Column_Size_Width, designColumn<2>},
    {"Column_Action_Width", &L::Column_Action_Width, designColumn<3>},
    {"Column_Account_Width", &L::Column_Account_Width,
     [](const Recs& r, const Ctx&) -> SettingValue { return r.list->Column_Action_Width; }},
    {"Column_Date_Width", &L::Column_Date_Width, designColumn<5>},
    {"MailFormHeight", &L::MailFormHeight},
    {"MailFormWidth", &L::MailFormWidth},
    {"ConvertHTML", &M::ConvertHTML},
    {"WrapText", &M::WrapText},
    {"SortType", &L::SortType},
    {"ToolBar_HideSelected", &L::ToolBar_HideSelected},
    {"ToolBar_HideAll", &L::ToolBar_HideAll},
    {"ToolBar_ShowAll", &L::ToolBar_ShowAll},
    {"ToolBar_DeleteSelected", &L::ToolBar_DeleteSelected},
    {"ToolBar_DeleteAll", &L::ToolBar_DeleteAll},
    {"ToolBar_UndeleteAll", &L::ToolBar_UndeleteAll},
    {"ToolBar_LaunchMailClient", &L::ToolBar_LaunchMailClient},
    {"ToolBar_PurgeMaillist", &L::ToolBar_PurgeMaillist},
    {"ToolBar_Body", &L::ToolBar_Body},
    {"ToolBar_ShowHeaders", &L::ToolBar_ShowHeaders},
    {"ToolBar_CheckNewMails", &L::ToolBar_CheckNewMails},
};

template <typename T> struct MemberOf;
template <typename R, typename T> struct MemberOf<T R::*> {
    using Record = R;
    using Value = T;
};

template <typename R> R* recordOf(const SettingRecords& r) {
    if constexpr (std::is_same_v<R, MainSettings>)
        return r.main;
    else if constexpr (std::is_same_v<R, AccountSettings>)
        return r.account;
    else if constexpr (std::is_same_v<R, TFilter>)
        return r.filter;
    else if constexpr (std::is_same_v<R, CheckerColors>)
        return r.colors;
    else
        return r.list;
}

// Calls f with a reference to the key's field in its record.
template <typename Fn>
decltype(auto) withField(const SettingKey& key, const SettingRecords& r, Fn&& f) {
    return std::visit(
        [&](auto member) -> decltype(auto) {
            using Record = typename MemberOf<decltype(member)>::Record;
            Record* record = recordOf<Record>(r);
            if (!record)
                throw std::logic_error("No record given for the setting " + std::string(key.name));
            return f(record->*member);
        },
        key.field);
}

// Text fields are single lines; a stray line break from elsewhere must not break the file (or
// the whole write), so it is stored as a blank.
std::string singleLine(std::string_view s) {
    std::string out(s);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
    return out;
}

// A value as the writer would store it: the file may hold a lone CR inside a line, or a blank
// before a NUL or the length cut, which the writer turns into or trims away; read that way, what
// is read is also what a write and the next start give back.
std::string storableText(std::string_view value) {
    return std::string(trimSpaceTab(singleLine(value)));
}

SettingValue readValue(const IniFile& ini, std::string_view section, const SettingKey& key,
                       SettingValue def) {
    switch (key.type()) {
    case SettingType::Text:
        if (key.flags & kScrambled) {
            const auto stored = ini.value(section, key.name);
            return stored ? passwordFromStoredText(*stored) : std::move(def);
        }
        if (const auto text = ini.value(section, key.name))
            return storableText(*text);
        return def;
    case SettingType::Integer: {
        const int v = ini.readInteger(section, key.name, std::get<int>(def));
        return (key.flags & kPositive) && v <= 0 ? std::get<int>(def) : v;
    }
    case SettingType::Boolean:
        return ini.readBool(section, key.name, std::get<bool>(def));
    case SettingType::Colour:
        return ini.readColor(section, key.name, std::get<std::uint32_t>(def));
    }
    return def;
}

} // namespace

SettingType SettingKey::type() const {
    return std::visit(
        [](auto member) {
            using T = typename MemberOf<decltype(member)>::Value;
            if constexpr (std::is_same_v<T, std::string>)
                return SettingType::Text;
            else if constexpr (std::is_same_v<T, int>)
                return SettingType::Integer;
            else if constexpr (std::is_same_v<T, bool>)
                return SettingType::Boolean;
            else
                return SettingType::Colour;
        },
        field);
}

std::span<const SettingKey> mainKeys() {
    return kMain;
}
std::span<const SettingKey> metricsKeys() {
    return kMetrics;
}
std::span<const SettingKey> accountKeys() {
    return kAccount;
}
std::span<const SettingKey> filterKeys() {
    return kFilter;
}
std::span<const SettingKey> colorSetKeys() {
    return kColorSet;
}
std::span<const SettingKey> emailListKeys() {
    return kEMailList;
}

const SettingKey* findSettingKey(std::span<const SettingKey> keys, std::string_view name) {
    for (const SettingKey& k : keys) {
        if (equalsNoCase(k.name, name))
            return &k;
    }
    return nullptr;
}

SettingValue settingValue(const SettingKey& key, const SettingRecords& records) {
    return withField(key, records, [](const auto& field) {
        using T = std::remove_cvref_t<decltype(field)>;
        return SettingValue(std::in_place_type<T>, field);
    });
}

void setSettingValue(const SettingKey& key, const SettingRecords& records,
                     const SettingValue& value) {
    withField(key, records, [&](auto& field) {
        using T = std::remove_reference_t<decltype(field)>;
        const T* v = std::get_if<T>(&value);
        if (!v)
            throw TarnError("Wrong kind of value for the setting " + std::string(key.name));
        field = *v;
    });
}

SettingValue settingDefault(const SettingKey& key, const SettingRecords& readSoFar,
                            const SettingContext& context) {
    if (key.computed)
        return key.computed(readSoFar, context);
    return std::visit(
        [](auto c) -> SettingValue {
            if constexpr (std::is_same_v<decltype(c), std::string_view>)
                return std::string(c);
            else
                return c;
        },
        key.constant);
}

void applySettingDefaults(std::span<const SettingKey> keys, const SettingRecords& records,
                          const SettingContext& context) {
    for (const SettingKey& k : keys) {
        if (!(k.flags & kWriteOnly))
            setSettingValue(k, records, settingDefault(k, records, context));
    }
}

void readSettingKeys(const IniFile& ini, std::string_view section, std::span<const SettingKey> keys,
                     const SettingRecords& records, const SettingContext& context,
                     SettingReadPass pass) {
    const bool afterLayout = pass == SettingReadPass::AfterLayout;
    for (const SettingKey& k : keys) {
        if ((k.flags & kWriteOnly) || ((k.flags & kAfterLayout) != 0) != afterLayout)
            continue;
        setSettingValue(k, records,
                        readValue(ini, section, k, settingDefault(k, records, context)));
    }
}

void writeSettingKeys(IniFile& ini, std::string_view section, std::span<const SettingKey> keys,
                      const SettingRecords& records) {
    for (const SettingKey& k : keys) {
        if (k.flags & kReadOnly)
            continue;
        const SettingValue v = settingValue(k, records);
        switch (k.type()) {
        case SettingType::Text: {
            const std::string& text = std::get<std::string>(v);
            ini.writeString(section, k.name,
                            (k.flags & kScrambled) ? storedPasswordText(text) : singleLine(text));
            break;
        }
        case SettingType::Integer:
            ini.writeInteger(section, k.name, std::get<int>(v));
            break;
        case SettingType::Boolean:
            if (!k.words[0].empty())
                ini.writeString(section, k.name, k.words[std::get<bool>(v) ? 1 : 0]);
            else
                ini.writeBool(section, k.name, std::get<bool>(v));
            break;
        case SettingType::Colour:
            ini.writeColor(section, k.name, std::get<std::uint32_t>(v));
            break;
        }
    }
}

} // namespace tarn

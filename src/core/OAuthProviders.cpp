#include "core/OAuthProviders.h"

#include "core/AsciiText.h"

// A packager may build in the client they registered (CMake options TARN_MICROSOFT_CLIENT_ID,
// TARN_GOOGLE_CLIENT_ID and TARN_GOOGLE_CLIENT_SECRET); the project has none of its own.
#ifndef TARN_MICROSOFT_CLIENT_ID
#define TARN_MICROSOFT_CLIENT_ID ""
#endif
#ifndef TARN_GOOGLE_CLIENT_ID
#define TARN_GOOGLE_CLIENT_ID ""
#endif
#ifndef TARN_GOOGLE_CLIENT_SECRET
#define TARN_GOOGLE_CLIENT_SECRET ""
#endif

namespace tarn {

namespace {

const OAuthPreset kPresets[] = {
    {"microsoft", "Microsoft (Outlook.com, Microsoft 365)",
     "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token",
     "https://outlook.office.com/IMAP.AccessAsUser.All "
     "https://outlook.office.com/POP.AccessAsUser.All offline_access",
     "outlook.office365.com", 993, "outlook.office365.com", 995, TARN_MICROSOFT_CLIENT_ID, "", ""},
    // Google gives a refresh token only when asked for offline access.
    {"google", "Google (Gmail)", "https://accounts.google.com/o/oauth2/v2/auth",
     "https://oauth2.googleapis.com/token", "https://mail.google.com/", "imap.gmail.com", 993,
     "pop.gmail.com", 995, TARN_GOOGLE_CLIENT_ID, TARN_GOOGLE_CLIENT_SECRET,
     "&access_type=offline&prompt=consent"},
};

} // namespace

std::span<const OAuthPreset> oauthPresets() {
    return kPresets;
}

const OAuthPreset* oauthPreset(std::string_view id) {
    for (const OAuthPreset& p : kPresets)
        if (equalsNoCase(p.id, id))
            return &p;
    return nullptr;
}

} // namespace tarn

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarn {

// A certificate pin as the user may type it: the SHA-256 of the certificate in hex, with or
// without colons (and spaces) between the bytes, in either case. The canonical form is 64
// lower-case hex digits; nullopt when the text is not such a digest.
std::optional<std::string> normalizeFingerprint(std::string_view text);

// 32 digest bytes as the user sees them: upper-case hex pairs joined by colons.
std::string displayFingerprint(std::string_view digest);

} // namespace tarn

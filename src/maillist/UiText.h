#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tarn {

// Texts below the windows are bytes as received. Valid UTF-8 shows as UTF-8, anything else as
// Windows-1252, the likeliest charset of an old undeclared header.
QString uiText(std::string_view bytes);
// Back to bytes (UTF-8).
std::string bytesOf(const QString& text);

} // namespace tarn

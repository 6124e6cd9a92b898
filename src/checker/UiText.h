#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tarn {

// The one crossing between the bytes the program keeps (as received, no charset conversion)
// and the text a window shows: valid UTF-8 is read as UTF-8, anything else as Windows-1252,
// so every byte shows as some character and none is dropped.
QString uiText(std::string_view bytes);

// Text from a window back to bytes: UTF-8.
std::string uiBytes(const QString& text);

// The same for a value the settings file keeps on one line: a line break or NUL pasted into
// the field becomes a blank, so the value reads back as it was stored.
std::string uiLineBytes(const QString& text);

} // namespace tarn

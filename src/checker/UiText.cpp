#include "checker/UiText.h"

#include "core/Utf8.h"

namespace tarn {

QString uiText(std::string_view bytes) {
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (char b : bytes)
        out += QChar(static_cast<char16_t>(windows1252ToUnicode(static_cast<unsigned char>(b))));
    return out;
}

std::string uiBytes(const QString& text) {
    return text.toStdString();
}

std::string uiLineBytes(const QString& text) {
    std::string s = uiBytes(text);
    for (char& c : s)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return s;
}

} // namespace tarn

#include "checker/UiText.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(UiText, BytesShowAsUtf8OrWindows1252WithoutLoss) {
    struct Case {
        const char* name;
        std::string bytes;
        QString text;
    };
    const Case cases[] = {
        {"utf-8", "J\xC3\xB6rg \xE4\xB8\xAD", QStringLiteral(u"J\u00F6rg \u4E2D")},
        {"latin", "J\xF6rg \x80 \x93x\x94", QStringLiteral(u"J\u00F6rg \u20AC \u201Cx\u201D")},
        {"undefined bytes", "\x81\x9D", QStringLiteral(u"\u0081\u009D")},
        {"NUL", std::string("a\0b", 3), QString(QStringLiteral("a")) + QChar(0) + u'b'},
    };
    for (const Case& c : cases) {
        const QString shown = uiText(c.bytes);
        EXPECT_EQ(shown, c.text) << c.name;
        EXPECT_EQ(shown.size(), c.text.size()) << c.name;
    }
    EXPECT_EQ(uiBytes(uiText("gr\xC3\xBC\xC3\x9F")), "gr\xC3\xBC\xC3\x9F");
    EXPECT_EQ(uiBytes(uiText("gr\xFC\xDF")), "gr\xC3\xBC\xC3\x9F");
}

} // namespace
} // namespace tarn

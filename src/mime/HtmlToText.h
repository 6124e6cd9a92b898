#pragma once

#include <string>
#include <string_view>

namespace tarn {

// Readable text of an HTML document, streamed through libxml2's HTML parser (no tree): entities
// decoded; script, style, head and comments dropped; block elements and <br> on lines of
// their own, paragraphs and headings separated by an empty line; a table row per line with
// its cells separated by a tab; list items after a bullet (or their number), indented by
// nesting; a link as its text followed by <url> when the two differ; an image as its alt
// text; <pre> kept as written. Lines end with CR LF. Input that is not UTF-8 is read as
// Windows-1252. Time and memory stay linear in the input, however deep its nesting.
std::string htmlToText(std::string_view html);

} // namespace tarn

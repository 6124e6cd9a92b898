#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Clock.h"

namespace tarn {

// Supplies the lines of a message one at a time, without their line ends. Returns false when
// no line is left (a connection-backed reader never does; it throws TarnError on a broken
// connection, which passes through the decoding unchanged).
using LineReader = std::function<bool(std::string& line)>;

// The message being fetched in a check: its raw header lines, the fields derived from them,
// and its body split into plain lines and decoded text parts. All text is 8-bit bytes as
// received; no character set conversion is made.
//
// Ways to fill it (clear() first when the object is reused):
//  - Lines already taken off the connection (Pop3Client::FetchHeader / FetchMessage,
//    Imap4Client::FetchMessage: header lines, and body lines without the end line and not
//    dot-stuffed): decodeFetchedMessage() below.
//  - Straight from a line stream: readHeader (POP3 "TOP n 0"), readMessage with
//    Framing::pop3() (RETR) or Framing::imap4() (FETCH RFC822).
//  - IMAP4 envelope: setSubject/setSender/setDate/setMessageId (MessageDate::decode for the
//    date).
// Then the worker stores subject(), senderText(), date(), headerText() and bodyText().
//
// Failures are TarnError: an invalid "Q" encoded word or "@ Outside address" in the header
// fields (the fields before it keep their values, the later ones stay empty, the date 0), and
// "Unknown Message Part Type." when the message ends inside a MIME part header (what was read
// before stays). readHeader and readMessage always consume the whole message up to its end
// line before they throw, so a connection stays in step; the text is also kept in failure().
class MailMessage {
public:
    // A part shown as text: its lines are UTF-8, converted from the part's charset, with
    // format=flowed lines joined.
    struct TextPart {
        std::string contentType;
        std::string transferEncoding;
        std::vector<std::string> lines;
        bool html = false;
        // Parts of one multipart/alternative share a number (0: in none); of those the plain
        // text is shown and the HTML left out.
        int alternativeGroup = 0;
    };

    // A part that is not shown as text: listed by name, media type and decoded size.
    struct Attachment {
        std::string name;
        std::string type;
        std::uint64_t size = 0;
    };

    // How the lines handed to the reader are framed.
    struct Framing {
        bool hasEndLine = true;
        std::string endLine = "."; // a line equal to it ends the message
        bool dotStuffed = true;    // lines beginning with "." carry an extra "."

        static Framing pop3() { return {true, ".", true}; }
        static Framing imap4() { return {true, ")", false}; }
        // Lines already cut at the end line and unstuffed by the protocol client.
        static Framing collected() { return {false, {}, false}; }
    };

    // Empties everything; the date becomes 0.
    void clear();

    // Raw header lines as received; empty lines are left out, continuation lines stay
    // separate entries.
    void addHeaderLine(std::string line);
    const std::vector<std::string>& headerLines() const { return m_headerLines; }

    // Value of the first field with this name (any case), continuation lines unfolded;
    // empty when there is none.
    static std::string fieldValue(const std::vector<std::string>& lines, std::string_view name);
    std::string fieldValue(std::string_view name) const { return fieldValue(m_headerLines, name); }

    // The content type without a charset parameter and everything after it.
    static std::string cutAtCharset(std::string_view contentType);
    // The boundary of a content type in upper case (quoted: up to the closing quote, else the
    // whole rest); empty when it has none.
    static std::string boundaryOf(std::string_view contentType);

    // Derives, in this order, content type, transfer encoding, disposition, subject, sender,
    // message-id, checks To, Cc and Reply-To, then date and the top boundary. Throws TarnError
    // at the first field that cannot be read; the later fields stay unset.
    void deriveHeaderFields(const Clock& clock);

    // Reads the body lines after the header up to the end line (or the end of the reader)
    // into plain lines and text parts. Throws TarnError "Unknown Message Part Type." when the
    // message ends inside a part header.
    void readBody(const LineReader& next, const Framing& framing = Framing::pop3());

    // Reads header lines up to the end line (empty lines left out) and derives the fields.
    void readHeader(const LineReader& next, const Clock& clock,
                    const Framing& framing = Framing::pop3());
    // Reads a whole message: header lines up to the first empty line or the end line, derives the
    // fields, then reads the body when the header ended with an empty line. Throws the first
    // failure after the message has been read to its end.
    void readMessage(const LineReader& next, const Clock& clock,
                     const Framing& framing = Framing::pop3());

    const std::string& subject() const { return m_subject; }
    const std::string& senderName() const { return m_senderName; }
    const std::string& senderAddress() const { return m_senderAddress; }
    // The text stored as the record's sender.
    std::string senderText() const;
    // Days since 30 December 1899, local time; 0 when not derived.
    double date() const { return m_date; }
    const std::string& messageId() const { return m_messageId; }
    const std::string& contentType() const { return m_contentType; }
    // The Content-Type value whole, parameters included.
    const std::string& contentTypeField() const { return m_fullContentType; }
    const std::string& contentTransferEncoding() const { return m_transferEncoding; }
    const std::string& contentDisposition() const { return m_disposition; }
    const std::vector<std::string>& boundaries() const { return m_boundaries; }
    const std::vector<std::string>& plainLines() const { return m_plainLines; }
    const std::vector<TextPart>& textParts() const { return m_textParts; }
    const std::vector<Attachment>& attachments() const { return m_attachments; }
    // The charset parameter of the message's own content type; empty when none.
    const std::string& charset() const { return m_charset; }
    // Text of the first failure met by readHeader, readMessage or decodeMessage; empty if none.
    const std::string& failure() const { return m_failure; }

    // The raw header lines, each followed by CR LF.
    std::string headerText() const;
    // The text a person reads, each line followed by CR LF: the plain body lines, then the
    // text parts in order (of a multipart/alternative the plain text rather than the HTML; a
    // forwarded message after its From, Subject and Date), then one line per attachment.
    // UTF-8 throughout; an HTML part without an <html> tag gets one, so that the message
    // window converts it.
    std::string bodyText() const;

    // For the IMAP4 envelope, which gives these fields without header lines.
    void setSubject(std::string s) { m_subject = std::move(s); }
    void setSender(std::string name, std::string address) {
        m_senderName = std::move(name);
        m_senderAddress = std::move(address);
    }
    void setDate(double d) { m_date = d; }
    void setMessageId(std::string id) { m_messageId = std::move(id); }

    // Keeps a failure text unless one is kept already.
    void noteFailure(const std::string& text);

private:
    std::vector<std::string> m_headerLines;
    std::string m_subject;
    std::string m_senderName;
    std::string m_senderAddress;
    double m_date = 0;
    std::string m_messageId;
    std::string m_contentType;
    std::string m_transferEncoding;
    std::string m_disposition;
    std::vector<std::string> m_boundaries;
    std::vector<std::string> m_plainLines;
    std::vector<TextPart> m_textParts;
    std::vector<Attachment> m_attachments;
    std::string m_charset;
    std::string m_fullContentType;
    std::string m_failure;
};

// A header value as an IMAP4 envelope gives it (folded lines possibly still in it) turned into
// the text a header line of the same value gives: unfolded as fieldValue does, encoded words
// decoded, UTF-8.
std::string decodeHeaderValue(std::string_view raw);

// A reader over lines already collected.
LineReader vectorLineReader(const std::vector<std::string>& lines);

// Splits received bytes into lines the way the line connection does: LF ends a line and a CR
// before it is dropped; a last line without LF counts too.
std::vector<std::string> splitReceivedLines(std::string_view bytes);

// Decodes a message as received on a POP3 connection after the status line: dot-stuffed
// lines, ended by "." or by the end of the vector. headersOnly: the lines are a header only
// ("TOP n 0"); otherwise a whole message ("RETR"). Never throws: a failure leaves what was
// decoded before it and its text in failure(). Meant for tools and robustness tests.
MailMessage decodeMessage(const std::vector<std::string>& lines, bool headersOnly,
                          const Clock& clock);

// Decodes a message whose lines the protocol client has already collected: the raw header
// lines (empty lines left out) and, when hasBody, the body lines without the end line and
// without dot-stuffing. For a header only ("TOP n 0") pass hasBody false. Never throws: a
// failure leaves what was decoded before it and its text in failure().
MailMessage decodeFetchedMessage(const std::vector<std::string>& headerLines, bool hasBody,
                                 const std::vector<std::string>& bodyLines, const Clock& clock);

} // namespace tarn

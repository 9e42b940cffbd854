#pragma once
// The event log's bytes and Unicode text. The file holds whatever bytes the process names had,
// usually UTF-8 but not always, with CR LF line ends. Text that is valid UTF-8 is read as
// UTF-8; anything else is read as Latin-1, which gives every byte its own character. The event
// log dialog's box keeps the bytes themselves (CLogEdit) and needs only the test and the
// encoder of text typed into it; the disabled-list dialog decodes its names here.

#include <QString>

#include <array>
#include <string>
#include <string_view>

enum class LogEncoding { Utf8, Latin1 };

// Whether `bytes` are valid UTF-8 under the same strict rules as the decoding below: no
// overlong forms, no surrogates, nothing beyond U+10FFFF. Runs through ASCII eight bytes at a
// time, for logs of many megabytes.
bool IsStrictUtf8(std::string_view bytes);

// The same test over bytes that come in pieces, cut anywhere, a character across two pieces
// included, so that a log is tested as it is read rather than once more afterwards.
class StrictUtf8Check {
public:
    void Add(std::string_view bytes);
    // Whether all the bytes added so far are valid UTF-8 (a character cut short at their end
    // is not).
    bool Valid() const { return m_bValid && m_pendingSize == 0; }

private:
    bool m_bValid = true;
    std::array<unsigned char, 4> m_pending {}; // the start of a character the next piece ends
    std::size_t m_pendingSize = 0;
};

// `text` encoded as `encoding`, line breaks untouched. Under Latin-1, a character beyond
// U+00FF is written as its UTF-8 bytes rather than dropped.
std::string EncodeText(QStringView text, LogEncoding encoding);

// `bytes` as UTF-8 when they are valid UTF-8, otherwise as Latin-1; `encoding` receives which.
QString DecodeUtf8OrLatin1(std::string_view bytes, LogEncoding* encoding = nullptr);

#include "dialogs/LogText.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstdint>
#include <cstring>

QString DecodeUtf8OrLatin1(std::string_view bytes, LogEncoding* encoding)
{
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // Strict decoding (overlong forms and surrogates are errors) keeps the round trip exact;
    // a byte-order mark is kept as a character so that it is written back.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(view);
    LogEncoding used = LogEncoding::Utf8;
    if (utf8.hasError()) {
        text = QString::fromLatin1(view);
        used = LogEncoding::Latin1;
    }
    if (encoding != nullptr)
        *encoding = used;
    return text;
}

namespace {

void AppendUtf8(std::string& out, QStringView text)
{
    QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    const QByteArray bytes = utf8.encode(text);
    out.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void AppendLatin1(std::string& out, QStringView text)
{
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i].unicode() < 0x100) {
            out.push_back(static_cast<char>(text[i].unicode()));
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < text.size() && text[end].unicode() >= 0x100)
            ++end;
        AppendUtf8(out, text.mid(i, end - i));
        i = end;
    }
}

} // namespace

namespace {

// The length of the character that `lead` starts, and the range its second byte must be in
// (which rules out overlong forms, surrogates and code points past U+10FFFF; later bytes are
// 80..BF). Zero for a byte that starts no character.
int SequenceLength(unsigned char lead, unsigned char& low, unsigned char& high)
{
    low = 0x80;
    high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef) {
        if (lead == 0xe0)
            low = 0xa0;
        else if (lead == 0xed)
            high = 0x9f;
        return 3;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        if (lead == 0xf0)
            low = 0x90;
        else if (lead == 0xf4)
            high = 0x8f;
        return 4;
    }
    return 0;
}

// Checks [p, end) as UTF-8 and returns where a character begins that runs past `end` (`end`
// when none does), or nullptr at the first invalid byte. Runs through ASCII eight bytes at a
// time.
const unsigned char* ScanUtf8(const unsigned char* p, const unsigned char* const end)
{
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        if (*p < 0x80) {
            ++p;
            continue;
        }
        unsigned char low, high;
        const int length = SequenceLength(*p, low, high);
        if (length == 0)
            return nullptr;
        if (end - p < length)
            return p; // its bytes so far are checked once the rest has come
        if (p[1] < low || p[1] > high)
            return nullptr;
        for (int i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xbf)
                return nullptr;
        }
        p += length;
    }
    return end;
}

} // namespace

void StrictUtf8Check::Add(std::string_view bytes)
{
    if (!m_bValid)
        return;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = p + bytes.size();
    if (m_pendingSize > 0) {
        unsigned char low, high;
        const auto length = static_cast<std::size_t>(SequenceLength(m_pending[0], low, high));
        while (m_pendingSize < length && p < end)
            m_pending[m_pendingSize++] = *p++;
        if (m_pendingSize < length)
            return;
        m_pendingSize = 0;
        if (ScanUtf8(m_pending.data(), m_pending.data() + length) != m_pending.data() + length) {
            m_bValid = false;
            return;
        }
    }
    const unsigned char* const rest = ScanUtf8(p, end);
    if (rest == nullptr) {
        m_bValid = false;
        return;
    }
    m_pendingSize = static_cast<std::size_t>(end - rest);
    std::memcpy(m_pending.data(), rest, m_pendingSize);
}

bool IsStrictUtf8(std::string_view bytes)
{
    StrictUtf8Check check;
    check.Add(bytes);
    return check.Valid();
}

std::string EncodeText(QStringView text, LogEncoding encoding)
{
    std::string encoded;
    if (encoding == LogEncoding::Utf8)
        AppendUtf8(encoded, text);
    else
        AppendLatin1(encoded, text);
    return encoded;
}

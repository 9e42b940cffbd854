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

bool IsStrictUtf8(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = p + bytes.size();
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        // The second byte's range depends on the lead byte (this is what rules out overlong
        // forms, surrogates and code points past U+10FFFF); later bytes are 80..BF.
        int length;
        unsigned char low = 0x80, high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            if (lead == 0xe0)
                low = 0xa0;
            else if (lead == 0xed)
                high = 0x9f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            if (lead == 0xf0)
                low = 0x90;
            else if (lead == 0xf4)
                high = 0x8f;
        } else {
            return false;
        }
        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xbf)
                return false;
        }
        p += length;
    }
    return true;
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

#include "dialogs/LogText.h"

#include <QStringDecoder>
#include <QStringEncoder>

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

DecodedLog DecodeLogBytes(std::string_view bytes)
{
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string_view::npos)
        bytes = bytes.substr(0, zero);
    DecodedLog result;
    result.text = DecodeUtf8OrLatin1(bytes, &result.encoding);
    // One pass in place: QString::replace takes seconds on a log of many megabytes.
    QChar* chars = result.text.data();
    const qsizetype size = result.text.size();
    qsizetype kept = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (chars[i] == u'\r' && i + 1 < size && chars[i + 1] == u'\n')
            continue;
        chars[kept++] = chars[i];
    }
    result.text.truncate(kept);
    return result;
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

std::string EncodeLogText(const QString& text, LogEncoding encoding)
{
    std::string encoded;
    if (encoding == LogEncoding::Utf8)
        AppendUtf8(encoded, text);
    else
        AppendLatin1(encoded, text);

    // "\n" is one byte in both encodings and never part of a longer sequence.
    std::string out;
    out.reserve(encoded.size() + static_cast<std::size_t>(text.count(u'\n')));
    for (const char c : encoded) {
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

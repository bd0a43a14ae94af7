// The conversions behind GetText: the code pages, the UTF-8 test, GBK both ways and the
// entity decoding, then GetText itself on the input as a response body.
#include "FuzzSupport.h"

#include "net/URLSource2.h"
#include "text/StringCtrl.h"

#include <QStringDecoder>
#include <cstring>

namespace {

bool HasHighByte(const QByteArray &bytes)
{
    for (const char b : bytes)
        if (static_cast<unsigned char>(b) >= 0x80)
            return true;
    return false;
}

void CheckDecoded(const QString &text, qsizetype inputBytes)
{
    FUZZ_CHECK_TEXT(!text.contains(QChar(0)), text);
    FUZZ_CHECK_TEXT(fuzz::WellFormed(text), text);
    FUZZ_CHECK_TEXT(text.size() <= 2 * inputBytes, text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // Two bytes choose the response's headers and GetText's options; the rest is the body.
    const uint8_t headerBits = data[0];
    const unsigned options = data[1] & 0x1F;
    const QByteArray body(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const char *bytes = body.constData();
    const qsizetype n = body.size();

    for (const int codePage : {int(CP_GBK), int(CP_UTF8), int(CP_EUCKR), int(CP_BIG5)}) {
        const QString text = MultiByteToText(bytes, codePage, n);
        CheckDecoded(text, n);
        // A zero byte ends the text: it is what the bytes before the zero give.
        const qsizetype zero = body.indexOf('\0');
        if (codePage == CP_UTF8 && zero >= 0)
            FUZZ_CHECK_TEXT(text == MultiByteToText(bytes, codePage, zero), text);
    }
    FUZZ_CHECK(MultiByteToText(bytes, 1234, n).isEmpty());

    // The lenient UTF-8 test accepts every strictly valid text with a non-ASCII byte,
    // and only texts with one.
    const bool lenient = IsUtf8(bytes, n);
    if (lenient)
        FUZZ_CHECK(HasHighByte(body));
    QStringDecoder strict(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString strictText = strict.decode(body);
    if (!strict.hasError() && HasHighByte(body))
        FUZZ_CHECK(lenient);

    // GBK both ways: the ANSI reader is the GBK reader up to the first zero, and text
    // made of GBK bytes goes back to what it was read from.
    const QString ansi = AnsiToText(bytes);
    FUZZ_CHECK(ansi == MultiByteToText(bytes, CP_GBK, qsizetype(std::strlen(bytes))));
    const QByteArray gbk = ToGbk(ansi);
    FUZZ_CHECK(!gbk.contains('\0'));
    if (!ansi.contains(QChar::ReplacementCharacter))
        FUZZ_CHECK_TEXT(MultiByteToText(gbk.constData(), CP_GBK, gbk.size()) == ansi, ansi);
    FUZZ_CHECK(!ToGbk(strictText).contains('\0'));

    // Entities only ever shrink a text and never split a pair.
    QString decoded = strictText;
    DecodeHtmlEntities(decoded);
    FUZZ_CHECK(decoded.size() <= strictText.size());
    if (!strictText.contains(u'&'))
        FUZZ_CHECK(decoded == strictText);
    if (fuzz::WellFormed(strictText))
        FUZZ_CHECK(fuzz::WellFormed(decoded));

    // GetText over the body as a response.
    static CUrlSession session;
    session.headerText = QStringLiteral("HTTP/1.1 200 OK\r\n");
    if (headerBits & 1)
        session.headerText += QStringLiteral("Content-Type: text/html; charset=GBK\r\n");
    session.body = body;
    const QString text = session.GetText(options);
    FUZZ_CHECK_TEXT(!text.contains(QChar(0)), text);
    FUZZ_CHECK_TEXT(fuzz::WellFormed(text), text);
    return 0;
}

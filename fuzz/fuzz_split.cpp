// Feeds arbitrary bytes through the same splitting and naming the tool uses, in memory, and
// turns every broken promise into a crash: cards are exact runs of the input from a begin to an
// end marker, every card that was opened is either handed over or reported as skipped, and every
// file name is safe, short enough and unique within the run.
#include "cardsplitter.h"
#include "cardwriter.h"

#include <QBuffer>
#include <QStringDecoder>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

[[noreturn]] void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "property broken: %s: %s\n", what, detail.toUtf8().constData());
    std::abort();
}

QByteArrayView withoutLineEnd(QByteArrayView line)
{
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r'))
        line.chop(1);
    return line;
}

// Text in UTF-16 is turned into UTF-8 before it is split, so its cards are not runs of the input.
bool isUtf16(QByteArrayView input)
{
    return input.startsWith("\xFF\xFE") || input.startsWith("\xFE\xFF")
            || input.startsWith(QByteArrayView("\0B\0E\0G", 6))
            || input.startsWith(QByteArrayView("B\0E\0G\0", 6));
}

// The lines the splitter sees, from a reading of the markers of its own.
QByteArray decodedInput(QByteArrayView input)
{
    if (!isUtf16(input))
        return input.toByteArray();
    const bool bigEndian = input.startsWith("\xFE\xFF") || input.startsWith('\0');
    QStringDecoder decoder(bigEndian ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE,
                           QStringDecoder::Flag::Stateless);
    return QString(decoder.decode(input)).toUtf8();
}

qint64 countBeginMarkers(const QByteArray &text, char lineEnd)
{
    constexpr QByteArrayView byteOrderMark = "\xEF\xBB\xBF";
    qint64 count = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(lineEnd, start);
        end = end < 0 ? text.size() : end + 1;
        QByteArrayView line = QByteArrayView(text).sliced(start, end - start);
        if (line.startsWith(byteOrderMark))
            line = line.sliced(byteOrderMark.size());
        if (classifyLine(withoutLineEnd(line)) == LineKind::Begin)
            ++count;
        start = end;
    }
    return count;
}

void checkCard(const QByteArray &card)
{
    const qsizetype firstLineEnd = card.indexOf('\n');
    const QByteArrayView first =
            firstLineEnd < 0 ? QByteArrayView(card) : QByteArrayView(card).first(firstLineEnd);
    if (classifyLine(withoutLineEnd(first)) != LineKind::Begin)
        fail("card does not start with a begin marker", QString::fromUtf8(card));

    const QByteArrayView body = withoutLineEnd(card);
    const QByteArrayView last = body.sliced(body.lastIndexOf('\n') + 1);
    const QByteArrayView lastByCarriageReturn =
            body.sliced(std::max(body.lastIndexOf('\n'), body.lastIndexOf('\r')) + 1);
    if (classifyLine(last) != LineKind::End && classifyLine(lastByCarriageReturn) != LineKind::End)
        fail("card does not end with an end marker", QString::fromUtf8(card));
}

void checkFileName(const QString &fileName, QSet<QString> &seen)
{
    if (!fileName.endsWith(u".vcf"_s))
        fail("file name without .vcf", fileName);
    const QString stem = fileName.chopped(4);
    if (stem.isEmpty() || stem == u"."_s || stem == u".."_s)
        fail("empty or dot file name", fileName);
    if (stem.toUtf8().size() > 200)
        fail("file name longer than 200 bytes", fileName);
    for (qsizetype i = 0; i < stem.size(); ++i) {
        const char16_t c = stem[i].unicode();
        if (c < 0x20 || (c >= 0x7f && c <= 0x9f) || u"/\\:*?\"<>|"_s.contains(QChar(c)))
            fail("forbidden character in file name", fileName);
        if (QChar::isHighSurrogate(c)
                    ? i + 1 == stem.size() || !QChar::isLowSurrogate(stem[i + 1].unicode())
                    : QChar::isLowSurrogate(c) && (i == 0 || !stem[i - 1].isHighSurrogate()))
            fail("half a surrogate pair in file name", fileName);
    }
    const qsizetype before = seen.size();
    seen.insert(fileName.toCaseFolded());
    if (seen.size() == before)
        fail("file name given twice", fileName);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input =
            QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray bytes = input;
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    QString consoleText;
    QTextStream console(&consoleText);
    CardWriter writer(QDir(), console);
    QSet<QString> seen;
    const bool exactBytes = !isUtf16(input);
    qsizetype searchFrom = 0;
    qint64 handed = 0;

    const SplitResult result =
            splitCards(device, console, [&](const QString &name, const QByteArray &card) {
                ++handed;
                checkCard(card);
                if (exactBytes) {
                    const qsizetype at = input.indexOf(card, searchFrom);
                    if (at < 0)
                        fail("card is not a run of the input's bytes", QString::fromUtf8(card));
                    searchFrom = at + card.size();
                }
                checkFileName(writer.claimFileName(name), seen);
            });

    if (result.cards != handed)
        fail("card count differs from the cards handed over");
    const qint64 opened = result.cards + result.skipped;
    const QByteArray text = decodedInput(input);
    if (opened != countBeginMarkers(text, '\n') && opened != countBeginMarkers(text, '\r')
        && opened != countBeginMarkers(input, '\n'))
        fail("cards plus skipped differ from the begin markers",
             u"%1 + %2"_s.arg(result.cards).arg(result.skipped));
    // A name must not carry a terminal escape sequence to the console.
    for (const QChar c : std::as_const(consoleText)) {
        if (c != u'\n' && (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f)))
            fail("control character on the console", consoleText);
    }

    // The naming also gets raw text that no name line would give, half surrogate pairs included.
    const qsizetype nameBytes = std::min<qsizetype>(input.size(), 1024);
    checkFileName(writer.claimFileName(QString::fromUtf8(input.first(nameBytes))), seen);
    QString utf16(nameBytes / 2, Qt::Uninitialized);
    std::memcpy(utf16.data(), input.constData(), size_t(utf16.size()) * 2);
    checkFileName(writer.claimFileName(utf16), seen);
    return 0;
}

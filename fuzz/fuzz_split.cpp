// Feeds arbitrary bytes through the same splitting and naming the tool uses, in memory, and
// turns every broken promise into a crash: cards are exact runs of the input (of its text in
// UTF-8, for UTF-16 input) from a begin to an end marker, every card that was opened is either
// handed over or reported as skipped, and every file name is safe, short enough and unique within
// the run.
#include "cardsplitter.h"
#include "cardwriter.h"

#include <QBuffer>
#include <QStringDecoder>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

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

// How much of the input tells its encoding and its line ends.
constexpr qsizetype sniffBytes = 64 * 1024;

// UTF-16 is recognised by its byte-order mark, or by the zeros between the letters of the first
// begin marker.
std::optional<QStringConverter::Encoding> utf16Encoding(QByteArrayView input)
{
    if (input.startsWith("\xFF\xFE"))
        return QStringConverter::Utf16LE;
    if (input.startsWith("\xFE\xFF"))
        return QStringConverter::Utf16BE;
    if (input.size() < 6)
        return std::nullopt;
    const auto zeros = [input](qsizetype at) {
        return input[at] == 0 && input[at + 2] == 0 && input[at + 4] == 0;
    };
    const auto beg = [input](qsizetype at) {
        const char letters[] = { input[at], input[at + 2], input[at + 4] };
        return QByteArrayView(letters, 3).compare("BEG", Qt::CaseInsensitive) == 0;
    };
    if (zeros(0) && beg(1))
        return QStringConverter::Utf16BE;
    if (zeros(1) && beg(0))
        return QStringConverter::Utf16LE;
    return std::nullopt;
}

// The text the splitter works on: the input itself, or its UTF-16 decoded to UTF-8 in one go.
QByteArray textOf(QByteArrayView input, qsizetype size)
{
    const auto encoding = utf16Encoding(input);
    if (!encoding)
        return input.first(size).toByteArray();
    QStringDecoder decoder(*encoding);
    return QString(decoder.decode(input.first(size))).toUtf8();
}

// Counts the begin markers of a reading of the lines of its own: lines end in LF, or, where the
// head of the file has no LF but a CR, in CR, CR LF or LF.
qint64 countBeginMarkers(const QByteArray &text, bool crLines)
{
    constexpr QByteArrayView byteOrderMark = "\xEF\xBB\xBF";
    qint64 count = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\n' && !(crLines && text[end] == '\r'))
            ++end;
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size()
            && text[end + 1] == '\n')
            ++end;
        end = std::min(end + 1, text.size());
        QByteArrayView line = QByteArrayView(text).sliced(start, end - start);
        if (line.startsWith(byteOrderMark))
            line = line.sliced(byteOrderMark.size());
        if (classifyLine(withoutLineEnd(line)) == LineKind::Begin)
            ++count;
        start = end;
    }
    return count;
}

void checkCard(QByteArrayView card)
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
    // Names that differ only in letter case or in how accents are composed are one file on
    // Windows and macOS.
    seen.insert(fileName.toCaseFolded().normalized(QString::NormalizationForm_C));
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
    // Cards are runs of the input's bytes, or of its text once UTF-16 is turned into UTF-8.
    const QByteArray text = textOf(input, input.size());
    const QByteArray head = textOf(input, std::min(input.size(), sniffBytes));
    const bool crLines = !head.contains('\n') && head.contains('\r');
    qsizetype searchFrom = 0;
    qint64 handed = 0;

    const SplitResult result =
            splitCards(device, console, [&](const QString &name, QByteArrayView card) {
                ++handed;
                checkCard(card);
                const qsizetype at = text.indexOf(card, searchFrom);
                if (at < 0)
                    fail("card is not a run of the input's text", QString::fromUtf8(card));
                searchFrom = at + card.size();
                checkFileName(writer.claimFileName(name), seen);
            });

    if (result.cards != handed)
        fail("card count differs from the cards handed over");
    const qint64 opened = countBeginMarkers(text, crLines);
    if (result.cards + result.skipped != opened)
        fail("cards plus skipped differ from the begin markers",
             u"%1 + %2 != %3"_s.arg(result.cards).arg(result.skipped).arg(opened));
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

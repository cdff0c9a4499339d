#include "cardsplitter.h"
#include "textchecks.h"

#include <QIODevice>
#include <QStringDecoder>
#include <QTextStream>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr QByteArrayView byteOrderMark = "\xEF\xBB\xBF";

// Phones write CR LF, LF and even CR CR LF; none of it belongs to the content.
QByteArrayView withoutLineEnd(QByteArrayView line)
{
    qsizetype size = line.size();
    while (size > 0 && (line[size - 1] == '\n' || line[size - 1] == '\r'))
        --size;
    return line.first(size);
}

bool startsWithNoCase(QByteArrayView text, QByteArrayView prefix)
{
    return text.size() >= prefix.size()
            && text.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

bool equalsNoCase(QByteArrayView text, QByteArrayView other)
{
    return text.size() == other.size() && text.compare(other, Qt::CaseInsensitive) == 0;
}

bool isGroupChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Address books group related lines: "item1.FN:Anna", even "home.begin:vcard".
QByteArrayView withoutGroup(QByteArrayView line)
{
    qsizetype i = 0;
    while (i < line.size() && isGroupChar(line[i]))
        ++i;
    return i > 0 && i < line.size() && line[i] == '.' ? line.sliced(i + 1) : line;
}

struct ContentLine
{
    qsizetype valueStart = 0;
    bool quotedPrintable = false;
    QByteArrayView charset;
};

void readParameter(QByteArrayView parameter, ContentLine &content)
{
    const qsizetype equals = parameter.indexOf('=');
    if (equals < 0) {
        // vCard 2.1 allows the bare value: "FN;QUOTED-PRINTABLE:..."
        if (equalsNoCase(parameter.trimmed(), "QUOTED-PRINTABLE"))
            content.quotedPrintable = true;
        return;
    }
    const QByteArrayView key = parameter.first(equals).trimmed();
    QByteArrayView value = parameter.sliced(equals + 1).trimmed();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.sliced(1, value.size() - 2);
    if (equalsNoCase(key, "ENCODING") && equalsNoCase(value, "QUOTED-PRINTABLE"))
        content.quotedPrintable = true;
    else if (equalsNoCase(key, "CHARSET"))
        content.charset = value;
}

// The parameters end at the first colon that is not inside a quoted parameter value, so
// indexOf(':') is wrong. EXAMPLE: FN;X-SORT="Smith: John":John Smith
ContentLine parseContentLine(QByteArrayView line)
{
    ContentLine content;
    qsizetype parameterStart = -1;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && parameterStart >= 0) {
            quoted = !quoted;
        } else if (!quoted && (c == ';' || c == ':')) {
            if (parameterStart >= 0)
                readParameter(line.sliced(parameterStart, i - parameterStart), content);
            if (c == ':') {
                content.valueStart = i + 1;
                return content;
            }
            parameterStart = i + 1;
        }
    }
    // A quote that never closes: the first colon is the best guess left.
    const qsizetype colon = line.indexOf(':');
    content.valueStart = colon < 0 ? line.size() : colon + 1;
    return content;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(QByteArrayView raw)
{
    QByteArray bytes;
    bytes.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const int high = raw[i] == '=' && i + 2 < raw.size() ? hexValue(raw[i + 1]) : -1;
        const int low = high < 0 ? -1 : hexValue(raw[i + 2]);
        if (low < 0) {
            bytes += raw[i];
        } else {
            bytes += char(high * 16 + low);
            i += 2;
        }
    }
    return bytes;
}

QString decodeCharset(QByteArrayView bytes, QByteArrayView charset)
{
    if (!charset.isEmpty() && !equalsNoCase(charset, "UTF-8")) {
        QStringDecoder decoder(charset.toByteArray().constData());
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    return QString::fromUtf8(bytes);
}

// Undoes the vCard escapes and turns control characters into spaces, so that no name can carry
// a terminal escape sequence to the console.
QString printableName(const QString &text)
{
    QString name;
    name.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
            const QChar next = text[i + 1];
            if (next == u'n' || next == u'N') {
                c = u' ';
                ++i;
            } else if (next == u',' || next == u';' || next == u':' || next == u'\\') {
                c = next;
                ++i;
            }
        }
        if (isControl(c))
            c = u' ';
        else if (isLoneSurrogate(text, i))
            c = QChar::ReplacementCharacter;
        name += c;
    }
    return name.trimmed();
}

// The contact name carried by a whole name line (continuations joined, soft line breaks
// removed), decoded and made safe to print.
QString decodeNameLine(QByteArrayView line)
{
    const ContentLine content = parseContentLine(line);
    const QByteArrayView value = line.sliced(content.valueStart);
    const QString text = content.quotedPrintable
            ? decodeCharset(decodeQuotedPrintable(value), content.charset)
            : decodeCharset(value, content.charset);
    return printableName(text);
}

} // namespace

LineKind classifyLine(QByteArrayView line)
{
    if (line.startsWith(' ') || line.startsWith('\t'))
        return LineKind::Folded;
    const QByteArrayView content = withoutGroup(line);
    if (startsWithNoCase(content, "BEGIN:VCARD"))
        return LineKind::Begin;
    if (startsWithNoCase(content, "END:VCARD"))
        return LineKind::End;
    if (content.size() > 2 && startsWithNoCase(content, "FN")
        && (content[2] == ':' || content[2] == ';'))
        return LineKind::Name;
    return LineKind::Property;
}

SplitResult splitCards(QIODevice &input, QTextStream &console, const CardHandler &handleCard)
{
    SplitResult result;
    QByteArray card;
    QByteArray nameLine;
    QString name;
    bool cardOpen = false;
    bool gatheringName = false;
    bool quotedPrintable = false; // the current property's value
    bool softBreak = false; // the line before ended a quoted-printable line with "="
    bool warnedUtf8 = false;
    qint64 lineNumber = 0;
    qint64 cardLine = 0;

    const auto say = [&console](const QString &message) {
        console << message << u'\n';
        console.flush();
    };
    const auto finishName = [&] {
        if (softBreak)
            nameLine.chop(1);
        name = decodeNameLine(nameLine);
        gatheringName = false;
        say(name);
    };
    const auto skipCard = [&](const QString &message) {
        say(message.arg(cardLine));
        ++result.skipped;
    };

    for (QByteArray line = input.readLine(); !line.isEmpty(); line = input.readLine()) {
        ++lineNumber;
        // A byte-order mark belongs to no card: at the start of the file, and where exports were
        // joined with cat, in front of a later card.
        if (line.startsWith(byteOrderMark)
            && (!cardOpen || classifyLine(line.sliced(3)) == LineKind::Begin))
            line.remove(0, 3);
        const QByteArrayView text = withoutLineEnd(line);
        const LineKind kind = classifyLine(text);
        // A soft line break continues the value whatever the next line starts with, except
        // a card boundary: a stray "=" must not swallow the end of a card.
        const bool continues = softBreak ? kind != LineKind::Begin && kind != LineKind::End
                                         : kind == LineKind::Folded;

        if (gatheringName && !continues)
            finishName();
        if (!warnedUtf8 && !line.isValidUtf8()) {
            warnedUtf8 = true;
            say(u"Uwaga: wiersz %1 nie jest poprawnym tekstem UTF-8."_s.arg(lineNumber));
        }

        if (continues) {
            if (gatheringName) {
                if (softBreak) {
                    nameLine.chop(1);
                    nameLine += text;
                } else {
                    nameLine += text.sliced(1);
                }
            }
            softBreak = quotedPrintable && text.endsWith('=');
        } else {
            quotedPrintable = parseContentLine(text).quotedPrintable;
            softBreak = quotedPrintable && text.endsWith('=');
            switch (kind) {
            case LineKind::Begin:
                if (cardOpen)
                    skipCard(u"Pominięto niedokończoną kartę (wiersz %1)."_s);
                cardOpen = true;
                cardLine = lineNumber;
                card.truncate(0);
                name.clear();
                break;
            case LineKind::End:
                if (!cardOpen)
                    break;
                card += line;
                cardOpen = false;
                if (name.isEmpty()) {
                    skipCard(u"Pominięto kartę bez nazwy (wiersz %1)."_s);
                } else {
                    handleCard(name, card);
                    ++result.cards;
                }
                continue;
            case LineKind::Name:
                if (cardOpen) {
                    gatheringName = true;
                    nameLine = text.toByteArray();
                }
                break;
            case LineKind::Property:
            case LineKind::Folded:
                break;
            }
        }
        if (cardOpen)
            card += line;
    }

    if (gatheringName)
        finishName();
    if (cardOpen)
        skipCard(u"Pominięto niedokończoną kartę (wiersz %1)."_s);
    return result;
}

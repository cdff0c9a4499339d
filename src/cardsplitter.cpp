#include "cardsplitter.h"
#include "textchecks.h"

#include <QIODevice>
#include <QStringDecoder>
#include <QTextStream>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr QByteArrayView byteOrderMark = "\xEF\xBB\xBF";

// Nearly every line is plain ASCII, which a look at eight bytes at a time shows.
bool isAscii(QByteArrayView line)
{
    const char *data = line.data();
    qsizetype i = 0;
    for (; i + 8 <= line.size(); i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, sizeof word);
        if (word & 0x8080808080808080u)
            return false;
    }
    for (; i < line.size(); ++i) {
        if (data[i] & 0x80)
            return false;
    }
    return true;
}

// Phones write CR LF, LF and even CR CR LF; none of it belongs to the content.
QByteArrayView withoutLineEnd(QByteArrayView line)
{
    qsizetype size = line.size();
    while (size > 0 && (line[size - 1] == '\n' || line[size - 1] == '\r'))
        --size;
    return line.first(size);
}

char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - ('a' - 'A')) : c;
}

// Every line passes through here, so this stays a plain ASCII loop; `prefix` is in upper case.
bool startsWithNoCase(QByteArrayView text, QByteArrayView prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        if (asciiUpper(text[i]) != prefix[i])
            return false;
    }
    return true;
}

bool equalsNoCase(QByteArrayView text, QByteArrayView upperCase)
{
    return text.size() == upperCase.size() && startsWithNoCase(text, upperCase);
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

// Whether the value of this line is quoted-printable. Most lines have no "q" before their first
// colon at all, and need no parsing.
bool isQuotedPrintable(QByteArrayView line)
{
    for (const char c : line) {
        if (c == ':')
            return false;
        if (c == 'q' || c == 'Q' || c == '"')
            return parseContentLine(line).quotedPrintable;
    }
    return false;
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
    const bool plain = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == u'\\' || isControl(c) || c.isSurrogate();
    });
    if (plain)
        return text.trimmed();
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

// The value of a whole content line (continuations joined, soft line breaks removed), decoded
// but with its escapes still in place.
QString decodeValue(QByteArrayView line)
{
    const ContentLine content = parseContentLine(line);
    const QByteArrayView value = line.sliced(content.valueStart);
    return content.quotedPrintable ? decodeCharset(decodeQuotedPrintable(value), content.charset)
                                   : decodeCharset(value, content.charset);
}

// Splits at every separator that no backslash escapes; the escapes stay for printableName.
QStringList splitUnescaped(const QString &text, QChar separator)
{
    QStringList parts;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\') {
            ++i;
        } else if (text[i] == separator) {
            parts << text.sliced(from, i - from);
            from = i + 1;
        }
    }
    parts << text.sliced(from);
    return parts;
}

// N is family;given;additional;prefixes;suffixes, each possibly a comma list; people read it as
// "prefixes given additional family suffixes".
QString nameFromStructuredName(const QString &text)
{
    const QStringList components = splitUnescaped(text, u';');
    QStringList words;
    for (const int component : { 3, 1, 2, 0, 4 }) {
        if (component >= components.size())
            continue;
        for (const QString &value : splitUnescaped(components[component], u',')) {
            const QString word = printableName(value);
            if (!word.isEmpty())
                words << word;
        }
    }
    return words.join(u' ');
}

// The contact name a whole line of this kind carries, made safe to print.
QString nameFromLine(LineKind kind, QByteArrayView line)
{
    const QString text = decodeValue(line);
    switch (kind) {
    case LineKind::StructuredName:
        return nameFromStructuredName(text);
    case LineKind::Organization:
        return printableName(splitUnescaped(text, u';').constFirst());
    default:
        return printableName(text);
    }
}

// The names a card without FN may take, from N, ORG, EMAIL and TEL in this order of preference.
// Most cards have an FN, so a line is only decoded once it may be needed: the first line of a
// kind is kept as it is, and decoded when a second line of that kind comes or the card ends.
class Fallbacks
{
public:
    void clear()
    {
        for (Candidate &candidate : m_candidates) {
            candidate.name.clear();
            candidate.line.truncate(0);
        }
    }

    void offer(LineKind kind, QByteArrayView line)
    {
        Candidate &candidate = m_candidates[int(kind) - int(LineKind::StructuredName)];
        if (candidate.decoded(kind).isEmpty())
            candidate.line.append(line);
    }

    QString name()
    {
        for (int i = 0; i < int(std::size(m_candidates)); ++i) {
            const QString &found =
                    m_candidates[i].decoded(LineKind(int(LineKind::StructuredName) + i));
            if (!found.isEmpty())
                return found;
        }
        return QString();
    }

private:
    struct Candidate
    {
        QString name; // the first non-empty name a line of this kind gave
        QByteArray line; // a line not decoded yet

        const QString &decoded(LineKind kind)
        {
            if (name.isEmpty() && !line.isEmpty()) {
                name = nameFromLine(kind, line);
                line.truncate(0);
            }
            return name;
        }
    };
    Candidate m_candidates[4];
};

// Hands out the input's lines one by one from a buffer that is reused, so that the file is never
// held whole and no line costs an allocation of its own.
class LineReader
{
public:
    explicit LineReader(QIODevice &device) : m_device(device)
    {
        // Enough of the file to tell how it is encoded and how its lines end.
        while (m_buffer.size() < sniffBytes && readMore(sniffBytes - m_buffer.size())) { }
        const QByteArrayView head = m_buffer;
        if (const auto encoding = utf16Encoding(head)) {
            m_utf16.emplace(*encoding);
            const QByteArray raw = std::exchange(m_buffer, QByteArray());
            appendUtf16(raw);
        }
        // Old Mac exports end lines with a lone CR. A file with any LF keeps LF as its line end.
        m_crLines = !m_buffer.contains('\n') && m_buffer.contains('\r');
    }

    // The next line with its line end, valid until the next call; empty at the end of input.
    QByteArrayView next()
    {
        m_lineStart = m_start;
        for (qsizetype searched = m_start;;) {
            const qsizetype end = lineEnd(searched);
            if (end > 0) {
                m_start = end;
                return current();
            }
            // No complete line buffered: keep the partial one, and what is kept, and read on.
            const qsizetype drop = m_kept >= 0 ? m_kept : m_lineStart;
            m_buffer.remove(0, drop);
            m_lineStart -= drop;
            m_kept = m_kept >= 0 ? 0 : -1;
            searched = m_buffer.size();
            if (!readMore(chunkBytes)) {
                m_start = m_buffer.size();
                return current();
            }
            if (m_crLines && searched > m_lineStart && m_buffer[searched - 1] == '\r')
                --searched; // a CR at the old end may be followed by its LF now
        }
    }

    // Keeps the input from this point of the current line on, so that a card can be handed over
    // from the buffer itself instead of being copied line by line.
    void keepFrom(const char *position) { m_kept = position - m_buffer.constData(); }
    void release() { m_kept = -1; }
    // Everything kept, up to the end of the current line.
    QByteArrayView kept() const
    {
        return QByteArrayView(m_buffer).sliced(m_kept, m_start - m_kept);
    }

private:
    static constexpr qsizetype sniffBytes = 64 * 1024;
    static constexpr qsizetype chunkBytes = 64 * 1024;

    static std::optional<QStringConverter::Encoding> utf16Encoding(QByteArrayView head)
    {
        if (head.startsWith("\xFF\xFE"))
            return QStringConverter::Utf16LE;
        if (head.startsWith("\xFE\xFF"))
            return QStringConverter::Utf16BE;
        // Without a byte-order mark, the first card's begin marker shows the byte order.
        const auto spells = [head](qsizetype offset) {
            if (head.size() < offset + 5)
                return false;
            const char letters[] = { head[offset], head[offset + 2], head[offset + 4] };
            return QByteArrayView(letters, 3).compare("BEG", Qt::CaseInsensitive) == 0;
        };
        const auto zeros = [head](qsizetype offset) {
            return head.size() >= offset + 5 && head[offset] == 0 && head[offset + 2] == 0
                    && head[offset + 4] == 0;
        };
        if (spells(1) && zeros(0))
            return QStringConverter::Utf16BE;
        if (spells(0) && zeros(1))
            return QStringConverter::Utf16LE;
        return std::nullopt;
    }

    // Where the line that starts at m_start ends, if its end is buffered already; 0 if not.
    qsizetype lineEnd(qsizetype searched) const
    {
        const char *data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        if (!m_crLines) {
            const void *lf = std::memchr(data + searched, '\n', size_t(size - searched));
            return lf ? static_cast<const char *>(lf) - data + 1 : 0;
        }
        for (qsizetype i = searched; i < size; ++i) {
            if (data[i] == '\n')
                return i + 1;
            if (data[i] == '\r') {
                // Whether an LF follows is known only once the next byte is here.
                if (i + 1 == size)
                    return 0;
                return i + 1 < size && data[i + 1] == '\n' ? i + 2 : i + 1;
            }
        }
        return 0;
    }

    // Appends up to maxBytes more of the input, decoded to UTF-8 where it is UTF-16.
    bool readMore(qsizetype maxBytes)
    {
        const qsizetype size = m_buffer.size();
        if (m_utf16) {
            m_raw.resize(maxBytes);
            const qint64 got = m_device.read(m_raw.data(), maxBytes);
            if (got <= 0) {
                m_buffer += std::exchange(m_highSurrogate, QString()).toUtf8();
                return m_buffer.size() > size;
            }
            appendUtf16(QByteArrayView(m_raw).first(got));
            return true;
        }
        m_buffer.resize(size + maxBytes);
        const qint64 got = m_device.read(m_buffer.data() + size, maxBytes);
        m_buffer.resize(size + std::max<qint64>(got, 0));
        return got > 0;
    }

    // A surrogate pair split between two reads must not become two broken halves: the first
    // half waits for the second.
    void appendUtf16(QByteArrayView raw)
    {
        QString text = std::exchange(m_highSurrogate, QString());
        text += m_utf16->decode(raw);
        if (!text.isEmpty() && text.back().isHighSurrogate()) {
            m_highSurrogate = text.back();
            text.chop(1);
        }
        m_buffer += text.toUtf8();
    }

    QIODevice &m_device;
    QByteArray m_buffer;
    QByteArrayView current() const
    {
        return QByteArrayView(m_buffer).sliced(m_lineStart, m_start - m_lineStart);
    }

    qsizetype m_lineStart = 0; // where the current line starts in m_buffer
    qsizetype m_start = 0; // where the next line starts
    qsizetype m_kept = -1; // where what is kept starts; -1: nothing
    bool m_crLines = false;
    std::optional<QStringDecoder> m_utf16;
    QString m_highSurrogate; // the first half of a pair whose second half is not read yet
    QByteArray m_raw;
};

} // namespace

LineKind classifyLine(QByteArrayView line)
{
    if (line.startsWith(' ') || line.startsWith('\t'))
        return LineKind::Folded;
    const QByteArrayView content = withoutGroup(line);
    const auto is = [content](QByteArrayView property) {
        return content.size() > property.size() && startsWithNoCase(content, property)
                && (content[property.size()] == ':' || content[property.size()] == ';');
    };
    switch (content.isEmpty() ? '\0' : asciiUpper(content.front())) {
    case 'B':
        return startsWithNoCase(content, "BEGIN:VCARD") ? LineKind::Begin : LineKind::Property;
    case 'E':
        return startsWithNoCase(content, "END:VCARD") ? LineKind::End
                : is("EMAIL")                         ? LineKind::Email
                                                      : LineKind::Property;
    case 'F':
        return is("FN") ? LineKind::Name : LineKind::Property;
    case 'N':
        return is("N") ? LineKind::StructuredName : LineKind::Property;
    case 'O':
        return is("ORG") ? LineKind::Organization : LineKind::Property;
    case 'T':
        return is("TEL") ? LineKind::Phone : LineKind::Property;
    default:
        return LineKind::Property;
    }
}

SplitResult splitCards(QIODevice &input, QTextStream &console, const CardHandler &handleCard)
{
    SplitResult result;
    LineReader reader(input);
    QByteArray gathered; // the whole content line of kind `gathering`, continuations joined
    LineKind gathering = LineKind::Property; // Property: nothing to gather
    QString name; // from FN
    Fallbacks fallbacks;
    bool cardOpen = false;
    bool quotedPrintable = false; // the current property's value
    bool softBreak = false; // the line before ended a quoted-printable line with "="
    bool warnedUtf8 = false;
    qint64 lineNumber = 0;
    qint64 cardLine = 0;

    const auto say = [&console](const QString &message) {
        console << message << u'\n';
        console.flush();
    };
    const auto finishGathering = [&] {
        if (softBreak)
            gathered.chop(1);
        if (gathering == LineKind::Name) {
            name = nameFromLine(gathering, gathered);
            say(name);
        } else if (name.isEmpty()) {
            fallbacks.offer(gathering, gathered);
        }
        gathering = LineKind::Property;
    };
    const auto cardName = [&] {
        if (name.isEmpty()) {
            const QString fallback = fallbacks.name();
            if (!fallback.isEmpty())
                say(fallback);
            return fallback;
        }
        return name;
    };
    const auto skipCard = [&](const QString &message) {
        say(message.arg(cardLine));
        ++result.skipped;
    };

    for (QByteArrayView line = reader.next(); !line.isEmpty(); line = reader.next()) {
        ++lineNumber;
        // A byte-order mark belongs to no card: at the start of the file, and where exports were
        // joined with cat, in front of a later card.
        if (line.startsWith(byteOrderMark)
            && (!cardOpen || classifyLine(line.sliced(3)) == LineKind::Begin))
            line = line.sliced(3);
        const QByteArrayView text = withoutLineEnd(line);
        const LineKind kind = classifyLine(text);
        // A soft line break continues the value whatever the next line starts with, except
        // a card boundary: a stray "=" must not swallow the end of a card.
        const bool continues = softBreak ? kind != LineKind::Begin && kind != LineKind::End
                                         : kind == LineKind::Folded;

        if (gathering != LineKind::Property && !continues)
            finishGathering();
        if (!warnedUtf8 && !isAscii(line) && !line.isValidUtf8()) {
            warnedUtf8 = true;
            say(u"Uwaga: wiersz %1 nie jest poprawnym tekstem UTF-8."_s.arg(lineNumber));
        }

        if (continues) {
            if (gathering != LineKind::Property) {
                if (softBreak) {
                    gathered.chop(1);
                    gathered += text;
                } else {
                    gathered += text.sliced(1);
                }
            }
            softBreak = quotedPrintable && text.endsWith('=');
        } else {
            quotedPrintable = isQuotedPrintable(text);
            softBreak = quotedPrintable && text.endsWith('=');
            switch (kind) {
            case LineKind::Begin:
                if (cardOpen)
                    skipCard(u"Pominięto niedokończoną kartę (wiersz %1)."_s);
                cardOpen = true;
                cardLine = lineNumber;
                reader.keepFrom(line.data());
                name.clear();
                fallbacks.clear();
                break;
            case LineKind::End:
                if (!cardOpen)
                    break;
                cardOpen = false;
                if (const QString found = cardName(); found.isEmpty()) {
                    skipCard(u"Pominięto kartę bez nazwy (wiersz %1)."_s);
                } else {
                    handleCard(found, reader.kept());
                    ++result.cards;
                }
                reader.release();
                break;
            case LineKind::Name:
            case LineKind::StructuredName:
            case LineKind::Organization:
            case LineKind::Email:
            case LineKind::Phone:
                if (cardOpen) {
                    gathering = kind;
                    gathered.truncate(0);
                    gathered += text;
                }
                break;
            case LineKind::Property:
            case LineKind::Folded:
                break;
            }
        }
    }

    if (gathering != LineKind::Property)
        finishGathering();
    if (cardOpen)
        skipCard(u"Pominięto niedokończoną kartę (wiersz %1)."_s);
    return result;
}

#ifndef CARDSPLITTER_H
#define CARDSPLITTER_H

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

class QIODevice;
class QTextStream;

// What a content line is to the splitter, judged on the line without its line end.
enum class LineKind {
    Property, // any other content line, including empty ones
    Folded, // starts with a space or a tab: continues the line before it
    Begin, // BEGIN:VCARD
    End, // END:VCARD
    Name, // FN
    // What names a card that has no FN, in this order of preference:
    StructuredName, // N
    Organization, // ORG
    Email, // EMAIL
    Phone, // TEL
};

LineKind classifyLine(QByteArrayView line);

struct SplitResult
{
    qint64 cards = 0; // complete named cards handed to the handler
    qint64 skipped = 0; // cards left out: no name, or never finished
};

// Called for every complete card that has a name: the card's own bytes, from its begin-marker
// line to its end-marker line, with their line ends. They are valid only during the call.
using CardHandler = std::function<void(const QString &name, QByteArrayView card)>;

// Walks the whole input once, echoing names and reporting skipped cards on the console.
// UTF-16 input is handed over as UTF-8, and lines may end in CR LF, LF or, in old Mac exports,
// a lone CR.
SplitResult splitCards(QIODevice &input, QTextStream &console, const CardHandler &handleCard);

#endif // CARDSPLITTER_H

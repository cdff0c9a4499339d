// Proves that the splitter finds every card, names it as phones and mail programs write names,
// and hands over each card's own bytes, whatever the line ends and encodings.
#include "cardsplitter.h"

#include <QBuffer>
#include <QStringEncoder>
#include <QTest>
#include <QTextStream>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Split
{
    QString console;
    QStringList names;
    QByteArrayList cards;
    SplitResult result;
};

Split runSplitter(const QByteArray &input)
{
    QByteArray bytes = input;
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    Split out;
    QTextStream console(&out.console);
    out.result = splitCards(device, console, [&out](const QString &name, QByteArrayView card) {
        out.names << name;
        out.cards << card.toByteArray();
    });
    return out;
}

QByteArray utf16(QStringConverter::Encoding encoding, const QByteArray &utf8)
{
    QStringEncoder encoder(encoding);
    return encoder.encode(QString::fromUtf8(utf8));
}

} // namespace

class tst_CardSplitter : public QObject
{
    Q_OBJECT

private slots:
    void classify_data();
    void classify();
    void names_data();
    void names();
    void split_data();
    void split();
};

void tst_CardSplitter::classify_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<LineKind>("kind");

    QTest::newRow("begin") << "BEGIN:VCARD"_ba << LineKind::Begin;
    QTest::newRow("begin-mixed-case") << "Begin:vCard"_ba << LineKind::Begin;
    QTest::newRow("begin-grouped") << "home.begin:vcard"_ba << LineKind::Begin;
    QTest::newRow("begin-calendar") << "BEGIN:VCALENDAR"_ba << LineKind::Property;
    QTest::newRow("end") << "END:VCARD"_ba << LineKind::End;
    QTest::newRow("end-lower-case") << "end:vcard"_ba << LineKind::End;
    QTest::newRow("end-trailing-dot") << "END:VCARD."_ba << LineKind::End;
    QTest::newRow("marker-in-value") << "NOTE:END:VCARD"_ba << LineKind::Property;
    QTest::newRow("folded-marker") << " END:VCARD"_ba << LineKind::Folded;
    QTest::newRow("tab-folded") << "\tFN:Anna"_ba << LineKind::Folded;
    QTest::newRow("name") << "FN:Anna"_ba << LineKind::Name;
    QTest::newRow("name-lower-case") << "fn:anna"_ba << LineKind::Name;
    QTest::newRow("name-parameters") << "FN;CHARSET=UTF-8:Anna"_ba << LineKind::Name;
    QTest::newRow("name-grouped") << "item1.FN:Anna"_ba << LineKind::Name;
    QTest::newRow("name-empty-group") << ".FN:Anna"_ba << LineKind::Property;
    QTest::newRow("name-in-value") << "NOTE:FN:Anna"_ba << LineKind::Property;
    QTest::newRow("longer-property") << "FNX:Anna"_ba << LineKind::Property;
    QTest::newRow("extension") << "X-FN:Anna"_ba << LineKind::Property;
    QTest::newRow("bare-fn") << "FN"_ba << LineKind::Property;
    QTest::newRow("structured-name") << "N:Nowak;Anna"_ba << LineKind::StructuredName;
    QTest::newRow("structured-name-parameters")
            << "n;charset=utf-8:x"_ba << LineKind::StructuredName;
    QTest::newRow("nickname") << "NICKNAME:Ania"_ba << LineKind::Property;
    QTest::newRow("note") << "NOTE:x"_ba << LineKind::Property;
    QTest::newRow("organization") << "item2.ORG:Firma"_ba << LineKind::Organization;
    QTest::newRow("email") << "EMAIL;INTERNET:a@b.pl"_ba << LineKind::Email;
    QTest::newRow("phone") << "TEL:1"_ba << LineKind::Phone;
    QTest::newRow("telex") << "TELEX:1"_ba << LineKind::Property;
    QTest::newRow("empty") << QByteArray() << LineKind::Property;
}

void tst_CardSplitter::classify()
{
    QFETCH(QByteArray, line);
    QFETCH(LineKind, kind);
    QCOMPARE(classifyLine(line), kind);
}

void tst_CardSplitter::names_data()
{
    QTest::addColumn<QByteArray>("lines"); // between the begin and the end marker
    QTest::addColumn<QString>("name");

    QTest::newRow("crlf") << "FN:Anna Nowak\r\n"_ba << u"Anna Nowak"_s;
    QTest::newRow("lf") << "FN:Anna Nowak\n"_ba << u"Anna Nowak"_s;
    QTest::newRow("cr-cr-lf") << "FN:Anna Nowak\r\r\n"_ba << u"Anna Nowak"_s;
    QTest::newRow("utf-8") << "FN:Łukasz Żółć\r\n"_ba << u"Łukasz Żółć"_s;
    QTest::newRow("parameters") << "FN;CHARSET=UTF-8;LANGUAGE=pl:Zoë\r\n"_ba << u"Zoë"_s;
    QTest::newRow("quoted-colon") << "FN;X-SORT=\"Nowak: Anna\";TYPE=x:Anna\r\n"_ba << u"Anna"_s;
    QTest::newRow("group") << "item1.FN:Anna\r\n"_ba << u"Anna"_s;
    QTest::newRow("lower-case") << "fn;charset=utf-8:anna\n"_ba << u"anna"_s;
    QTest::newRow("quoted-printable")
            << "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C5=81ukasz=20Nowak\r\n"_ba
            << u"Łukasz Nowak"_s;
    QTest::newRow("quoted-printable-bare") << "FN;QUOTED-PRINTABLE:Anna=3DB\r\n"_ba << u"Anna=B"_s;
    QTest::newRow("quoted-printable-lower-case")
            << "fn;encoding=quoted-printable:=c5=81ukasz\n"_ba << u"Łukasz"_s;
    QTest::newRow("soft-break-inside-character")
            << "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C5=\r\n=81ukasz=\r\n Nowak\r\n"_ba
            << u"Łukasz Nowak"_s;
    QTest::newRow("soft-break-after-colon")
            << "FN;ENCODING=QUOTED-PRINTABLE:=\r\nAnna=20Nowak\r\n"_ba << u"Anna Nowak"_s;
    QTest::newRow("soft-break-before-end")
            << "FN;ENCODING=QUOTED-PRINTABLE:Anna=\r\n"_ba << u"Anna"_s;
    QTest::newRow("soft-break-on-folded-line")
            << "FN;ENCODING=QUOTED-PRINTABLE:Anna\r\n Maria=\r\nNowak\r\n"_ba
            << u"AnnaMariaNowak"_s;
    QTest::newRow("bad-escape-kept")
            << "FN;ENCODING=QUOTED-PRINTABLE:A=4G=\n=4\n"_ba << u"A=4G=4"_s;
    QTest::newRow("windows-1250")
            << "FN;CHARSET=windows-1250;ENCODING=QUOTED-PRINTABLE:=A3ukasz Wi=9Cniewski\r\n"_ba
            << u"Łukasz Wiśniewski"_s;
    QTest::newRow("iso-8859-2-raw") << "FN;CHARSET=ISO-8859-2:\xA3ukasz\r\n"_ba << u"Łukasz"_s;
    QTest::newRow("utf-16-half-pair")
            << "FN;CHARSET=UTF-16LE;ENCODING=QUOTED-PRINTABLE:x=00=00=D8\r\n"_ba << u"x\uFFFD"_s;
    QTest::newRow("unknown-charset") << "FN;CHARSET=X-MARTIAN:Łukasz\r\n"_ba << u"Łukasz"_s;
    QTest::newRow("escapes") << "FN:Nowak\\, Anna\\; x\\:y\\\\z\\nw\\Nv\\q\r\n"_ba
                             << u"Nowak, Anna; x:y\\z w v\\q"_s;
    QTest::newRow("folded") << "FN:Anna\r\n  Nowak\r\n"_ba << u"Anna Nowak"_s;
    QTest::newRow("folded-tab") << "FN:An\r\n\tna\r\n"_ba << u"Anna"_s;
    QTest::newRow("surrounding-space") << "FN:  Anna \t\r\n"_ba << u"Anna"_s;
    QTest::newRow("control-characters")
            << "FN:Anna\x1b[2J\x07Nowak\xC2\x9B\r\n"_ba << u"Anna [2J Nowak"_s;
    QTest::newRow("last-name-wins") << "FN:Anna\r\nNOTE:x\r\nFN:Ola\r\n"_ba << u"Ola"_s;

    // Cards without FN, as old phones write them.
    QTest::newRow("structured-name")
            << "N:Nowak;Anna;Maria;dr;jr\r\n"_ba << u"dr Anna Maria Nowak jr"_s;
    QTest::newRow("structured-name-lists")
            << "N:Nowak-Kowalska;Anna,Ewa;;;\r\n"_ba << u"Anna Ewa Nowak-Kowalska"_s;
    QTest::newRow("structured-name-escapes")
            << "N:Nowak\\;Kowalska;Anna\\,Ewa\r\n"_ba << u"Anna,Ewa Nowak;Kowalska"_s;
    QTest::newRow("structured-name-family-only") << "N:Nowak\r\n"_ba << u"Nowak"_s;
    QTest::newRow("structured-name-quoted-printable")
            << "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C5=\r\n=81ukasz;Jan;;;\r\n"_ba
            << u"Jan Łukasz"_s;
    QTest::newRow("structured-name-folded") << "N:Nowak;An\r\n na\r\n"_ba << u"Anna Nowak"_s;
    QTest::newRow("structured-name-controls") << "N:\x1b[2J;Anna\r\n"_ba << u"Anna [2J"_s;
    QTest::newRow("organization") << "ORG:Firma\\; S.A.;Dział\r\n"_ba << u"Firma; S.A."_s;
    QTest::newRow("email") << "item1.EMAIL;TYPE=INTERNET:anna@example.com\r\n"_ba
                           << u"anna@example.com"_s;
    QTest::newRow("phone") << "TEL;CELL:+48 600 100 200\r\n"_ba << u"+48 600 100 200"_s;
    QTest::newRow("order-of-preference")
            << "TEL:1\r\nEMAIL:a@b.pl\r\nORG:Firma\r\nN:;;;;\r\n"_ba << u"Firma"_s;
    QTest::newRow("first-non-empty-of-a-kind")
            << "TEL:\r\nN:;;;;\r\nTEL:2\r\nN:Nowak\r\nN:Kowalska\r\n"_ba << u"Nowak"_s;
    QTest::newRow("name-after-structured-name") << "N:Nowak;Anna\r\nFN:Ania\r\n"_ba << u"Ania"_s;
    QTest::newRow("empty-name-falls-back") << "FN:\r\nN:Nowak;Anna\r\n"_ba << u"Anna Nowak"_s;
}

// The name is echoed once complete, and the card goes out under it.
void tst_CardSplitter::names()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, name);

    const Split out = runSplitter("BEGIN:VCARD\r\nVERSION:3.0\r\n" + lines + "END:VCARD\r\n");
    QCOMPARE(out.names, QStringList { name });
    QVERIFY2(out.console.endsWith(name + u'\n'), qPrintable(out.console));
}

void tst_CardSplitter::split_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("console");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QByteArrayList>("cards");
    QTest::addColumn<qint64>("skipped");

    const QByteArray anna = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\nEND:VCARD\r\n";
    const QByteArray jan = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Jan\r\nTEL:1\r\nEND:VCARD\r\n";

    QTest::newRow("two-cards") << anna + jan << u"Anna\nJan\n"_s
                               << QStringList { u"Anna"_s, u"Jan"_s }
                               << QByteArrayList { anna, jan } << qint64(0);
    QTest::newRow("empty-input") << QByteArray() << QString() << QStringList() << QByteArrayList()
                                 << qint64(0);
    QTest::newRow("no-final-line-end")
            << anna + "BEGIN:VCARD\nFN:Jan\nEND:VCARD" << u"Anna\nJan\n"_s
            << QStringList { u"Anna"_s, u"Jan"_s }
            << QByteArrayList { anna, "BEGIN:VCARD\nFN:Jan\nEND:VCARD" } << qint64(0);
    QTest::newRow("lines-outside-cards")
            << "garbage\r\nFN:Nobody\r\n" + anna + "\r\nmore\r\n" + jan + "tail" << u"Anna\nJan\n"_s
            << QStringList { u"Anna"_s, u"Jan"_s } << QByteArrayList { anna, jan } << qint64(0);
    QTest::newRow("nested-begin") << "BEGIN:VCARD\r\nFN:Parent\r\n" + anna + "END:VCARD\r\n"
                                  << u"Parent\nPominięto niedokończoną kartę (wiersz 1).\nAnna\n"_s
                                  << QStringList { u"Anna"_s } << QByteArrayList { anna }
                                  << qint64(1);
    QTest::newRow("missing-end") << anna + "BEGIN:VCARD\r\nFN:Jan\r\n"
                                 << u"Anna\nJan\nPominięto niedokończoną kartę (wiersz 5).\n"_s
                                 << QStringList { u"Anna"_s } << QByteArrayList { anna }
                                 << qint64(1);
    QTest::newRow("name-at-end-of-input")
            << "BEGIN:VCARD\nFN:Anna"_ba << u"Anna\nPominięto niedokończoną kartę (wiersz 1).\n"_s
            << QStringList() << QByteArrayList() << qint64(1);
    QTest::newRow("second-end") << anna + "NOTE:stray\r\nEND:VCARD\r\n"
                                << u"Anna\n"_s << QStringList { u"Anna"_s }
                                << QByteArrayList { anna } << qint64(0);
    QTest::newRow("no-name")
            << "BEGIN:VCARD\r\nN:;;;;\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:\r\nEND:VCARD\r\n" + jan
            << u"Pominięto kartę bez nazwy (wiersz 1).\n\nPominięto kartę bez nazwy (wiersz 4).\nJan\n"_s
            << QStringList { u"Jan"_s } << QByteArrayList { jan } << qint64(2);
    QTest::newRow("marker-in-soft-break")
            << "BEGIN:VCARD\r\nNOTE;QUOTED-PRINTABLE:a=\r\nFN:Fake\r\nFN:Real\r\nEND:VCARD\r\n"_ba
            << u"Real\n"_s << QStringList { u"Real"_s }
            << QByteArrayList { "BEGIN:VCARD\r\nNOTE;QUOTED-PRINTABLE:a=\r\nFN:Fake\r\nFN:"
                                "Real\r\nEND:"
                                "VCARD\r\n" }
            << qint64(0);
    QTest::newRow("stray-soft-break-before-end")
            << "BEGIN:VCARD\r\nFN:Anna\r\nNOTE;QUOTED-PRINTABLE:a=\r\nEND:VCARD\r\n" + jan
            << u"Anna\nJan\n"_s << QStringList { u"Anna"_s, u"Jan"_s }
            << QByteArrayList { "BEGIN:VCARD\r\nFN:Anna\r\nNOTE;QUOTED-PRINTABLE:a=\r\nEND:"
                                "VCARD\r\n",
                                jan }
            << qint64(0);
    const QByteArray withNul = "BEGIN:VCARD\r\nFN:An\0na\r\nNOTE:x\0y\r\nEND:VCARD\r\n"_ba;
    QTest::newRow("nul-bytes") << withNul + "\0\r\n"_ba + jan << u"An na\nJan\n"_s
                               << QStringList { u"An na"_s, u"Jan"_s }
                               << QByteArrayList { withNul, jan } << qint64(0);
    QTest::newRow("byte-order-mark")
            << "\xEF\xBB\xBF" + anna << u"Anna\n"_s << QStringList { u"Anna"_s }
            << QByteArrayList { anna } << qint64(0);
    const QByteArray markInside = "BEGIN:VCARD\nFN:Ola\n\xEF\xBB\xBFNOTE:x\nEND:VCARD\n";
    QTest::newRow("byte-order-marks-of-joined-files")
            << "\xEF\xBB\xBF" + anna + "\xEF\xBB\xBF" + jan + "\xEF\xBB\xBF\r\n" + markInside
            << u"Anna\nJan\nOla\n"_s << QStringList { u"Anna"_s, u"Jan"_s, u"Ola"_s }
            << QByteArrayList { anna, jan, markInside } << qint64(0);
    const QByteArray latin = "BEGIN:VCARD\nFN:Zo\xEB\nNOTE:\xFF\nEND:VCARD\n";
    QTest::newRow("invalid-utf-8")
            << anna + latin + latin
            << u"Anna\nUwaga: wiersz 6 nie jest poprawnym tekstem UTF-8.\nZo\uFFFD\nZo\uFFFD\n"_s
            << QStringList { u"Anna"_s, u"Zo\uFFFD"_s, u"Zo\uFFFD"_s }
            << QByteArrayList { anna, latin, latin } << qint64(0);

    // How old Mac and Windows programs wrote their exports.
    const QByteArray polish = "BEGIN:VCARD\r\nFN:Łukasz Żółć\r\nEND:VCARD\r\n";
    QTest::newRow("utf-16-le-with-mark")
            << "\xFF\xFE" + utf16(QStringConverter::Utf16LE, polish + anna)
            << u"Łukasz Żółć\nAnna\n"_s << QStringList { u"Łukasz Żółć"_s, u"Anna"_s }
            << QByteArrayList { polish, anna } << qint64(0);
    QTest::newRow("utf-16-be-with-mark")
            << "\xFE\xFF" + utf16(QStringConverter::Utf16BE, polish) << u"Łukasz Żółć\n"_s
            << QStringList { u"Łukasz Żółć"_s } << QByteArrayList { polish } << qint64(0);
    QTest::newRow("utf-16-be-without-mark")
            << utf16(QStringConverter::Utf16BE, polish) << u"Łukasz Żółć\n"_s
            << QStringList { u"Łukasz Żółć"_s } << QByteArrayList { polish } << qint64(0);
    QTest::newRow("utf-16-le-without-mark-lower-case")
            << utf16(QStringConverter::Utf16LE, "begin:vcard\nfn:Anna\nend:vcard\n") << u"Anna\n"_s
            << QStringList { u"Anna"_s } << QByteArrayList { "begin:vcard\nfn:Anna\nend:vcard\n" }
            << qint64(0);
    const QByteArray crCard = "BEGIN:VCARD\rFN:Anna\rNOTE:a\r b\rEND:VCARD\r";
    QTest::newRow("lone-cr") << crCard + crCard << u"Anna\nAnna\n"_s
                             << QStringList { u"Anna"_s, u"Anna"_s }
                             << QByteArrayList { crCard, crCard } << qint64(0);
    QTest::newRow("utf-16-lone-cr")
            << utf16(QStringConverter::Utf16BE, crCard) << u"Anna\n"_s << QStringList { u"Anna"_s }
            << QByteArrayList { crCard } << qint64(0);
    QTest::newRow("lone-cr-in-a-file-with-lf") << "BEGIN:VCARD\rFN:Anna\rEND:VCARD\r\n"_ba
                                               << u"Pominięto niedokończoną kartę (wiersz 1).\n"_s
                                               << QStringList() << QByteArrayList() << qint64(1);
    // The reader's buffer is refilled in 64 KiB pieces: lines across and longer than a piece.
    const QByteArray photo =
            "BEGIN:VCARD\nFN:Ola\nPHOTO:" + QByteArray(200000, 'A') + "\nEND:VCARD\n";
    QTest::newRow("long-line") << anna + photo + jan << u"Anna\nOla\nJan\n"_s
                               << QStringList { u"Anna"_s, u"Ola"_s, u"Jan"_s }
                               << QByteArrayList { anna, photo, jan } << qint64(0);
    QByteArray crAcross = "BEGIN:VCARD\rFN:Anna\rNOTE:";
    crAcross += QByteArray(64 * 1024 - 1 - crAcross.size(), 'x') + "\r\nEND:VCARD\r";
    QTest::newRow("cr-lf-across-pieces")
            << crAcross + "BEGIN:VCARD\rFN:Ola\r"
            << u"Anna\nOla\nPominięto niedokończoną kartę (wiersz 5).\n"_s
            << QStringList { u"Anna"_s } << QByteArrayList { crAcross } << qint64(1);
    // The two halves of a surrogate pair on either side of a piece's end: the high half is the
    // last unit of the first 64 KiB, the byte-order mark included.
    QString pairAcross = u"BEGIN:VCARD\r\nFN:Ola\r\nNOTE:"_s;
    pairAcross +=
            QString(32 * 1024 - 2 - pairAcross.size(), u'x') + u"\U0001F600\r\nEND:VCARD\r\n"_s;
    QTest::newRow("utf-16-pair-across-pieces")
            << "\xFF\xFE" + utf16(QStringConverter::Utf16LE, pairAcross.toUtf8()) << u"Ola\n"_s
            << QStringList { u"Ola"_s } << QByteArrayList { pairAcross.toUtf8() } << qint64(0);
}

void tst_CardSplitter::split()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, console);
    QFETCH(QStringList, names);
    QFETCH(QByteArrayList, cards);
    QFETCH(qint64, skipped);

    const Split out = runSplitter(input);
    QCOMPARE(out.console, console);
    QCOMPARE(out.names, names);
    QCOMPARE(out.cards, cards);
    QCOMPARE(out.result.cards, qint64(cards.size()));
    QCOMPARE(out.result.skipped, skipped);
}

QTEST_APPLESS_MAIN(tst_CardSplitter)
#include "tst_cardsplitter.moc"

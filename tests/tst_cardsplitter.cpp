// Proves that the splitter finds every card, names it as phones and mail programs write names,
// and hands over each card's own bytes, whatever the line ends and encodings.
#include "cardsplitter.h"

#include <QBuffer>
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
    out.result = splitCards(device, console, [&out](const QString &name, const QByteArray &card) {
        out.names << name;
        out.cards << card;
    });
    return out;
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
            << "BEGIN:VCARD\r\nN:Nowak;Anna\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:\r\nEND:VCARD\r\n"
                    + jan
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

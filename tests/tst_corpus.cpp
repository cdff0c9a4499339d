// Proves on real exports published by other projects that every complete card that carries a
// name comes out as a file of its own, holding the input's text from a begin to an end marker,
// and that nothing is written outside Contacts. Prints a table of what each file gave.
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QRegularExpression lineOf(const QString &pattern)
{
    return QRegularExpression(u"^([A-Za-z0-9-]+\\.)?"_s + pattern,
                              QRegularExpression::CaseInsensitiveOption);
}

const QRegularExpression beginLine = lineOf(u"BEGIN:VCARD"_s);
const QRegularExpression endLine = lineOf(u"END:VCARD"_s);
// Any property that gives a card its name, with something in it besides separators.
const QRegularExpression namingLine = lineOf(
        u"((FN|EMAIL|TEL)(;[^:]*)?:\\s*\\S|N(;[^:]*)?:.*[^;,\\s]|ORG(;[^:]*)?:\\s*[^;\\s])"_s);

// The input as UTF-8 text: UTF-16 exports are converted, as the tool does.
QByteArray asUtf8(const QByteArray &bytes)
{
    std::optional<QStringConverter::Encoding> encoding;
    if (bytes.startsWith("\xFF\xFE") || (bytes.size() > 1 && bytes[0] != 0 && bytes[1] == 0))
        encoding = QStringConverter::Utf16LE;
    else if (bytes.startsWith("\xFE\xFF") || (bytes.size() > 1 && bytes[0] == 0 && bytes[1] != 0))
        encoding = QStringConverter::Utf16BE;
    if (!encoding)
        return bytes;
    QStringDecoder decoder(*encoding);
    return QString(decoder.decode(bytes)).toUtf8();
}

QList<QByteArray> lines(const QByteArray &text)
{
    // Old Mac exports end their lines with a lone CR.
    const bool crLines = !text.left(64 * 1024).contains('\n') && text.contains('\r');
    QList<QByteArray> result =
            crLines ? QByteArray(text).replace("\r\n", "\r").split('\r') : text.split('\n');
    for (QByteArray &line : result) {
        while (line.endsWith('\r'))
            line.chop(1);
    }
    return result;
}

// A plain reading of the markers, independent of the tool's: complete cards with a name.
int namedCards(const QByteArray &text)
{
    int count = 0;
    bool open = false;
    bool named = false;
    for (const QByteArray &line : lines(text)) {
        const QString content = QString::fromUtf8(line);
        if (beginLine.match(content).hasMatch()) {
            open = true;
            named = false;
        } else if (open && namingLine.match(content).hasMatch()) {
            named = true;
        } else if (open && endLine.match(content).hasMatch()) {
            count += named ? 1 : 0;
            open = false;
        }
    }
    return count;
}

struct Totals
{
    int files = 0;
    int cards = 0;
    int written = 0;
    int unfinished = 0;
    int nameless = 0;
} totals;

} // namespace

class tst_Corpus : public QObject
{
    Q_OBJECT

private slots:
    void everyNamedCardWritten_data();
    void everyNamedCardWritten();
    void cleanupTestCase();
};

void tst_Corpus::everyNamedCardWritten_data()
{
    QTest::addColumn<QString>("path");

    const QDir corpus(QStringLiteral(VCARDSPLIT_CORPUS_DIR));
    if (!corpus.exists())
        QSKIP("No corpus of real exports beside this checkout");
    QStringList paths;
    QDirIterator it(corpus.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(u".md"_s))
            paths << path;
    }
    paths.sort();
    for (const QString &path : std::as_const(paths))
        QTest::newRow(qPrintable(corpus.relativeFilePath(path))) << path;
}

void tst_Corpus::everyNamedCardWritten()
{
    QFETCH(QString, path);

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray input = asUtf8(file.readAll());
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));

    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(VCARDSPLIT_BINARY), QStringList());
    QVERIFY(process.waitForStarted());
    process.write(path.toUtf8() + '\n');
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(60000));
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    // Nothing but Contacts, and nothing but files in it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList { u"Contacts"_s });
    const QDir contacts(dir.filePath(u"Contacts"_s));
    const QStringList files =
            contacts.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : files) {
        const QByteArray card = [&] {
            QFile cardFile(contacts.filePath(name));
            return cardFile.open(QIODevice::ReadOnly) ? cardFile.readAll() : QByteArray();
        }();
        QVERIFY2(input.contains(card), qPrintable(name));
        QList<QByteArray> cardLines = lines(card);
        if (cardLines.size() > 1 && cardLines.last().isEmpty())
            cardLines.removeLast();
        QVERIFY2(beginLine.match(QString::fromUtf8(cardLines.first())).hasMatch(),
                 qPrintable(name));
        QVERIFY2(endLine.match(QString::fromUtf8(cardLines.last())).hasMatch(), qPrintable(name));
    }

    const QRegularExpressionMatch summary =
            QRegularExpression(u"Zapisano kart: (\\d+), pominięto: (\\d+), błędy zapisu: 0\n"_s)
                    .match(output);
    QVERIFY2(summary.hasMatch(), qPrintable(output));
    const QList<QByteArray> inputLines = lines(input);
    const int cards =
            int(std::count_if(inputLines.cbegin(), inputLines.cend(), [](const QByteArray &line) {
                return beginLine.match(QString::fromUtf8(line)).hasMatch();
            }));
    const int written = summary.captured(1).toInt();
    const int unfinished = int(output.count(u"Pominięto niedokończoną kartę"_s));
    const int nameless = int(output.count(u"Pominięto kartę bez nazwy"_s));
    qInfo("%5d cards %5d written %5d unfinished %5d without a name", cards, written, unfinished,
          nameless);
    totals.files += 1;
    totals.cards += cards;
    totals.written += written;
    totals.unfinished += unfinished;
    totals.nameless += nameless;
    QCOMPARE(summary.captured(2).toInt(), unfinished + nameless);
    QCOMPARE(written, files.size());
    QCOMPARE(files.size(), namedCards(input));
}

void tst_Corpus::cleanupTestCase()
{
    if (totals.files > 0)
        qInfo("%d files: %d cards, %d written, %d unfinished, %d without a name", totals.files,
              totals.cards, totals.written, totals.unfinished, totals.nameless);
}

QTEST_GUILESS_MAIN(tst_Corpus)
#include "tst_corpus.moc"

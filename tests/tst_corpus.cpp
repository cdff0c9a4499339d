// Proves on real exports published by other projects that every complete named card comes out
// as a file of its own, holding a run of the input's bytes from a begin to an end marker, and
// that nothing is written outside Contacts.
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QRegularExpression beginLine(u"^([A-Za-z0-9-]+\\.)?BEGIN:VCARD"_s,
                                   QRegularExpression::CaseInsensitiveOption);
const QRegularExpression endLine(u"^([A-Za-z0-9-]+\\.)?END:VCARD"_s,
                                 QRegularExpression::CaseInsensitiveOption);
const QRegularExpression nameLine(u"^([A-Za-z0-9-]+\\.)?FN(;[^:]*)?:\\s*\\S"_s,
                                  QRegularExpression::CaseInsensitiveOption);

QList<QByteArray> lines(const QByteArray &bytes)
{
    QList<QByteArray> result = bytes.split('\n');
    for (QByteArray &line : result) {
        while (line.endsWith('\r'))
            line.chop(1);
    }
    return result;
}

// A plain reading of the markers, independent of the tool's: complete cards with a name line.
int namedCards(const QByteArray &bytes)
{
    int count = 0;
    bool open = false;
    bool named = false;
    for (const QByteArray &line : lines(bytes)) {
        const QString text = QString::fromUtf8(line);
        if (beginLine.match(text).hasMatch()) {
            open = true;
            named = false;
        } else if (open && nameLine.match(text).hasMatch()) {
            named = true;
        } else if (open && endLine.match(text).hasMatch()) {
            count += named ? 1 : 0;
            open = false;
        }
    }
    return count;
}

} // namespace

class tst_Corpus : public QObject
{
    Q_OBJECT

private slots:
    void everyNamedCardWritten_data();
    void everyNamedCardWritten();
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
    const QByteArray input = file.readAll();
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
    qInfo("%d cards written, %d skipped", summary.captured(1).toInt(), summary.captured(2).toInt());
    QCOMPARE(summary.captured(1).toInt(), files.size());
    QCOMPARE(files.size(), namedCards(input));
}

QTEST_GUILESS_MAIN(tst_Corpus)
#include "tst_corpus.moc"

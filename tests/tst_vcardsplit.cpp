// Proves what a user of the real program sees: the exact console dialogue, the exit status, and
// the card files, with nothing written outside Contacts.
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
};

Run run(const QString &workDir, const QByteArray &typed)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VCARDSPLIT_BINARY), QStringList());
    if (!process.waitForStarted())
        return {};
    process.write(typed);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    Run result;
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.output = QString::fromUtf8(process.readAllStandardOutput());
    return result;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Every file below dir, as paths relative to it.
QStringList tree(const QString &dir)
{
    QStringList paths;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << QDir(dir).relativeFilePath(it.next());
    paths.sort();
    return paths;
}

const QByteArray anna = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Nowak\r\nEND:VCARD\r\n";
const QByteArray lukasz = "BEGIN:VCARD\r\nVERSION:2.1\r\n"
                          "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C5=81ukasz Wi=C5=9B=\r\n"
                          "niewski\r\nTEL;CELL:+48 600 100 200\r\nEND:VCARD\r\n";
const QByteArray annaAgain = "BEGIN:VCARD\nVERSION:3.0\nfn:anna nowak\nEMAIL:a@b.pl\nEND:VCARD\n";

} // namespace

class tst_VcardSplit : public QObject
{
    Q_OBJECT

private slots:
    void typicalRun();
    void cannotOpen_data();
    void cannotOpen();
    void draggedName_data();
    void draggedName();
    void existingContactsReused();
    void contactsIsAFile();
    void cardFileCannotBeWritten();
    void contactsFileInsideContacts_data();
    void contactsFileInsideContacts();
};

void tst_VcardSplit::typicalRun()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray input = "\xEF\xBB\xBF" + anna + "\r\n" + lukasz + annaAgain
            + "BEGIN:VCARD\r\nNOTE:nic\r\nEND:VCARD\r\n";
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), input));

    const Run result = run(dir.path(), "kontakty.vcf\n");
    QCOMPARE(result.output,
             u"Nazwa pliku: Anna Nowak\nŁukasz Wiśniewski\nanna nowak\n"
             "Pominięto kartę bez nazwy (wiersz 17).\n"
             "Zapisano kart: 3, pominięto: 1, błędy zapisu: 0\n"
             "Zakończono konwersję!\n\n"_s);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(tree(dir.path()),
             QStringList({ u"Contacts"_s, u"Contacts/Anna Nowak.vcf"_s,
                           u"Contacts/anna nowak (2).vcf"_s, u"Contacts/Łukasz Wiśniewski.vcf"_s,
                           u"kontakty.vcf"_s }));
    QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s)), anna);
    QCOMPARE(readFile(dir.filePath(u"Contacts/Łukasz Wiśniewski.vcf"_s)), lukasz);
    QCOMPARE(readFile(dir.filePath(u"Contacts/anna nowak (2).vcf"_s)), annaAgain);

    // A second run gives the same files.
    QCOMPARE(run(dir.path(), "kontakty.vcf\n").exitCode, 0);
    QCOMPARE(tree(dir.path()).size(), 5);
    QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s)), anna);
}

void tst_VcardSplit::cannotOpen_data()
{
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QString>("output");

    QTest::newRow("input-closed") << QByteArray() << u"Nazwa pliku: Brak pliku ''!\n\n"_s;
    QTest::newRow("empty-line") << "\n"_ba << u"Nazwa pliku: Brak pliku ''!\n\n"_s;
    QTest::newRow("missing") << "brak.vcf\r\n"_ba << u"Nazwa pliku: Brak pliku 'brak.vcf'!\n\n"_s;
    QTest::newRow("missing-polish")
            << "żółw.vcf\n"_ba << u"Nazwa pliku: Brak pliku 'żółw.vcf'!\n\n"_s;
    QTest::newRow("missing-quoted")
            << "'brak.vcf' \n"_ba << u"Nazwa pliku: Brak pliku ''brak.vcf' '!\n\n"_s;
    QTest::newRow("directory") << "katalog\n"_ba << u"Nazwa pliku: Brak pliku 'katalog'!\n\n"_s;
    QTest::newRow("nul-in-name") << "kontakty.vcf\0.txt\n"_ba
                                 << u"Nazwa pliku: Brak pliku 'kontakty.vcf\0.txt'!\n\n"_s;
}

void tst_VcardSplit::cannotOpen()
{
    QFETCH(QByteArray, typed);
    QFETCH(QString, output);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkdir(u"katalog"_s));
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), anna));
    const Run result = run(dir.path(), typed);
    QCOMPARE(result.output, output);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(tree(dir.path()), QStringList({ u"katalog"_s, u"kontakty.vcf"_s }));
}

void tst_VcardSplit::draggedName_data()
{
    QTest::addColumn<QByteArray>("typed");

    QTest::newRow("double-quotes") << "\"moje kontakty.vcf\"\n"_ba;
    QTest::newRow("single-quotes-space") << "'moje kontakty.vcf' \n"_ba;
    QTest::newRow("surrounding-space") << "  moje kontakty.vcf\t\n"_ba;
    QTest::newRow("absolute") << QByteArray(); // filled in with the real path below
}

// Dragging a file onto a console window types its path quoted; the file must still open.
void tst_VcardSplit::draggedName()
{
    QFETCH(QByteArray, typed);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(writeFile(dir.filePath(u"moje kontakty.vcf"_s), anna));
    if (typed.isEmpty())
        typed = "'" + dir.filePath(u"moje kontakty.vcf"_s).toUtf8() + "' \n";

    const Run result = run(dir.path(), typed);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.output.startsWith(u"Nazwa pliku: Anna Nowak\n"_s), qPrintable(result.output));
    QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s)), anna);
}

void tst_VcardSplit::existingContactsReused()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkdir(u"Contacts"_s));
    QVERIFY(writeFile(dir.filePath(u"Contacts/notatka.txt"_s), "keep"));
    QVERIFY(writeFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s), QByteArray(4096, 'x')));
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), anna));

    QCOMPARE(run(dir.path(), "kontakty.vcf\n").exitCode, 0);
    QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s)), anna);
    QCOMPARE(readFile(dir.filePath(u"Contacts/notatka.txt"_s)), "keep"_ba);
}

// With a plain file in the way, the cards must not land beside the contacts file.
void tst_VcardSplit::contactsIsAFile()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(writeFile(dir.filePath(u"Contacts"_s), "not a directory"));
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), anna));

    const Run result = run(dir.path(), "kontakty.vcf\n");
    QCOMPARE(result.output, u"Nazwa pliku: Nie można utworzyć katalogu 'Contacts'!\n\n"_s);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(tree(dir.path()), QStringList({ u"Contacts"_s, u"kontakty.vcf"_s }));
    QCOMPARE(readFile(dir.filePath(u"Contacts"_s)), "not a directory"_ba);
}

void tst_VcardSplit::cardFileCannotBeWritten()
{
    if (!QFile::exists(u"/dev/full"_s))
        QSKIP("This system has no /dev/full");
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkpath(u"Contacts/Łukasz Wiśniewski.vcf"_s));
    QVERIFY(QFile::link(u"/dev/full"_s, dir.filePath(u"Contacts/Anna Nowak.vcf"_s)));
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), anna + lukasz + annaAgain));

    const Run result = run(dir.path(), "kontakty.vcf\n");
    QCOMPARE(result.output,
             u"Nazwa pliku: Anna Nowak\n"
             "Błąd podczas zapisu pliku: No space left on device(Anna Nowak.vcf)\n"
             "Łukasz Wiśniewski\n"
             "Błąd podczas otwierania pliku: Is a directory(Łukasz Wiśniewski.vcf)\n"
             "anna nowak\n"
             "Zapisano kart: 1, pominięto: 0, błędy zapisu: 2\n"
             "Zakończono konwersję!\n\n"_s);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(tree(dir.path()),
             QStringList({ u"Contacts"_s, u"Contacts/anna nowak (2).vcf"_s,
                           u"Contacts/Łukasz Wiśniewski.vcf"_s, u"kontakty.vcf"_s }));
    QCOMPARE(readFile(dir.filePath(u"Contacts/anna nowak (2).vcf"_s)), annaAgain);
}

void tst_VcardSplit::contactsFileInsideContacts_data()
{
    QTest::addColumn<QString>("input"); // where the contacts file is
    QTest::addColumn<QString>("link"); // and how it appears in Contacts under a card's name

    QTest::newRow("itself") << u"Contacts/Anna Nowak.vcf"_s << QString();
    QTest::newRow("itself-other-case") << u"Contacts/ANNA NOWAK.VCF"_s << QString();
    QTest::newRow("hard-link") << u"kontakty.vcf"_s << u"hard"_s;
    QTest::newRow("symbolic-link") << u"kontakty.vcf"_s << u"symbolic"_s;
}

// Whatever name the contacts file has in Contacts, writing a card there would destroy it.
void tst_VcardSplit::contactsFileInsideContacts()
{
    QFETCH(QString, input);
    QFETCH(QString, link);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkdir(u"Contacts"_s));
    const QString inputPath = dir.filePath(input);
    QVERIFY(writeFile(inputPath, anna + lukasz));
    const QString linkPath = dir.filePath(u"Contacts/Anna Nowak.vcf"_s);
    if (link == u"hard")
        QVERIFY(::link(QFile::encodeName(inputPath).constData(),
                       QFile::encodeName(linkPath).constData())
                == 0);
    else if (link == u"symbolic")
        QVERIFY(QFile::link(u"../kontakty.vcf"_s, linkPath));

    const Run result = run(dir.path(), input.toUtf8() + '\n');
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(readFile(inputPath), anna + lukasz);
    QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak (2).vcf"_s)), anna);
    QCOMPARE(readFile(dir.filePath(u"Contacts/Łukasz Wiśniewski.vcf"_s)), lukasz);
}

QTEST_GUILESS_MAIN(tst_VcardSplit)
#include "tst_vcardsplit.moc"

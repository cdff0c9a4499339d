// Proves what a user of the real program sees: the exact console dialogue, the exit status, and
// the card files, with nothing written outside Contacts.
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
};

// Starts the program, under the command in VCARDSPLIT_WRAPPER (valgrind, say) when that is set.
void start(QProcess &process, const QString &workDir, const QStringList &environment)
{
    process.setWorkingDirectory(workDir);
    QProcessEnvironment processEnvironment = QProcessEnvironment::systemEnvironment();
    processEnvironment.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    for (const QString &variable : environment)
        processEnvironment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    process.setProcessEnvironment(processEnvironment);
    QStringList command =
            qEnvironmentVariable("VCARDSPLIT_WRAPPER").split(u' ', Qt::SkipEmptyParts);
    command << QStringLiteral(VCARDSPLIT_BINARY);
    process.start(command.takeFirst(), command);
}

Run finish(QProcess &process)
{
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    Run result;
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.output = QString::fromUtf8(process.readAllStandardOutput());
    const QByteArray errors = process.readAllStandardError();
    if (!errors.isEmpty())
        qWarning("%s", errors.constData());
    return result;
}

// Waits until the process has the file open, as Linux shows it in /proc.
bool waitUntilOpen(const QProcess &process, const QString &path)
{
    const QByteArray descriptors = "/proc/" + QByteArray::number(process.processId()) + "/fd";
    for (QDeadlineTimer deadline(60000); !deadline.hasExpired(); QThread::msleep(10)) {
        DIR *dir = opendir(descriptors.constData());
        bool found = false;
        while (const dirent *entry = dir ? readdir(dir) : nullptr) {
            found = found
                    || QFile::symLinkTarget(QFile::decodeName(descriptors + '/' + entry->d_name))
                            == path;
        }
        if (dir)
            closedir(dir);
        if (found)
            return true;
    }
    return false;
}

// inChild runs in the child process just before the program starts.
Run run(const QString &workDir, const QByteArray &typed, const QStringList &environment = {},
        const std::function<void()> &inChild = {})
{
    QProcess process;
    if (inChild)
        process.setChildProcessModifier(inChild);
    start(process, workDir, environment);
    if (!process.waitForStarted())
        return {};
    process.write(typed);
    process.closeWriteChannel();
    return finish(process);
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
    void contactsNotADirectory_data();
    void contactsNotADirectory();
    void contactsLinkFollowed();
    void cardFileFaults_data();
    void cardFileFaults();
    void unusualContactsFile_data();
    void unusualContactsFile();
    void contactsFileFromFifoWriter();
    void readFault_data();
    void readFault();
    void standardStreamClosed_data();
    void standardStreamClosed();
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

void tst_VcardSplit::contactsNotADirectory_data()
{
    QTest::addColumn<bool>("link");

    QTest::newRow("plain-file") << false;
    QTest::newRow("dangling-link") << true;
}

// With something other than a directory in the way, the cards must not land beside the contacts
// file, nor anywhere a dangling link points.
void tst_VcardSplit::contactsNotADirectory()
{
    QFETCH(bool, link);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    if (link)
        QVERIFY(QFile::link(dir.filePath(u"gone"_s), dir.filePath(u"Contacts"_s)));
    else
        QVERIFY(writeFile(dir.filePath(u"Contacts"_s), "not a directory"));
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), anna));

    const Run result = run(dir.path(), "kontakty.vcf\n");
    QCOMPARE(result.output, u"Nazwa pliku: Nie można utworzyć katalogu 'Contacts'!\n\n"_s);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(tree(dir.path()), QStringList({ u"Contacts"_s, u"kontakty.vcf"_s }));
    if (!link)
        QCOMPARE(readFile(dir.filePath(u"Contacts"_s)), "not a directory"_ba);
}

// A Contacts that is the user's own link to a directory elsewhere (a memory card, say) is where
// the user wants the cards: they go there, and nowhere else.
void tst_VcardSplit::contactsLinkFollowed()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkpath(u"card/vcf"_s));
    QVERIFY(QFile::link(u"card/vcf"_s, dir.filePath(u"Contacts"_s)));
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), anna + lukasz));

    const Run result = run(dir.path(), "kontakty.vcf\n");
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(tree(dir.path()),
             QStringList({ u"Contacts"_s, u"card"_s, u"card/vcf"_s, u"card/vcf/Anna Nowak.vcf"_s,
                           u"card/vcf/Łukasz Wiśniewski.vcf"_s, u"kontakty.vcf"_s }));
    QCOMPARE(readFile(dir.filePath(u"card/vcf/Anna Nowak.vcf"_s)), anna);
    QCOMPARE(readFile(dir.filePath(u"card/vcf/Łukasz Wiśniewski.vcf"_s)), lukasz);
}

void tst_VcardSplit::cardFileFaults_data()
{
    QTest::addColumn<QString>("obstacle"); // under the second card's name, or "disk-full"
    QTest::addColumn<QString>("message");

    const QString notPlain =
            u"Błąd podczas otwierania pliku: nie jest zwykłym plikiem(Łukasz Wiśniewski.vcf)\n"_s;
    QTest::newRow("directory")
            << u"directory"_s
            << u"Błąd podczas otwierania pliku: Is a directory(Łukasz Wiśniewski.vcf)\n"_s;
    QTest::newRow("link-outside") << u"link-outside"_s << notPlain;
    QTest::newRow("fifo") << u"fifo"_s << notPlain;
    QTest::newRow("hard-link") << u"hard-link"_s
                               << u"Błąd podczas otwierania pliku: ma też inną nazwę "
                                  "(dowiązanie twarde)(Łukasz Wiśniewski.vcf)\n"_s;
    QTest::newRow("disk-full") << u"disk-full"_s
                               << u"Błąd podczas zapisu pliku: File too large"
                                  "(Łukasz Wiśniewski.vcf)\n"_s;
}

// One card file that cannot be written is reported, leaves nothing behind, changes nothing
// outside Contacts, and the cards around it are still written.
void tst_VcardSplit::cardFileFaults()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkdir(u"Contacts"_s));
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), anna + lukasz + annaAgain));
    QVERIFY(writeFile(dir.filePath(u"outside.txt"_s), "keep"));
    const QString path = dir.filePath(u"Contacts/Łukasz Wiśniewski.vcf"_s);
    QStringList expected = { u"Contacts"_s, u"Contacts/Anna Nowak.vcf"_s,
                             u"Contacts/anna nowak (2).vcf"_s, u"kontakty.vcf"_s,
                             u"outside.txt"_s };
    if (obstacle != u"disk-full")
        expected << u"Contacts/Łukasz Wiśniewski.vcf"_s;
    expected.sort();

    std::function<void()> inChild;
    if (obstacle == u"directory") {
        QVERIFY(QDir().mkdir(path));
    } else if (obstacle == u"link-outside") {
        QVERIFY(QFile::link(u"../outside.txt"_s, path));
    } else if (obstacle == u"fifo") {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (obstacle == u"hard-link") {
        QCOMPARE(::link(QFile::encodeName(dir.filePath(u"outside.txt"_s)).constData(),
                        QFile::encodeName(path).constData()),
                 0);
    } else {
        // The second card is the only one longer than this: its write fails part way, as on
        // a full disk.
        QVERIFY(anna.size() < 100 && lukasz.size() > 100 && annaAgain.size() < 100);
        inChild = [] {
            const rlimit limit = { 100, 100 };
            setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_IGN);
        };
    }

    const Run result = run(dir.path(), "kontakty.vcf\n", {}, inChild);
    QCOMPARE(result.output,
             u"Nazwa pliku: Anna Nowak\nŁukasz Wiśniewski\n"_s + message
                     + u"anna nowak\n"
                       "Zapisano kart: 2, pominięto: 0, błędy zapisu: 1\n"
                       "Zakończono konwersję!\n\n"_s);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(tree(dir.path()), expected);
    QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s)), anna);
    QCOMPARE(readFile(dir.filePath(u"Contacts/anna nowak (2).vcf"_s)), annaAgain);
    QCOMPARE(readFile(dir.filePath(u"outside.txt"_s)), "keep"_ba);
}

void tst_VcardSplit::unusualContactsFile_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("fifo-without-writer") << u"fifo"_s;
    QTest::newRow("dev-null") << u"/dev/null"_s;
}

// Neither waits for data that never comes: both read as an empty file.
void tst_VcardSplit::unusualContactsFile()
{
    QFETCH(QString, kind);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QString typed = kind;
    if (kind == u"fifo") {
        QCOMPARE(mkfifo(QFile::encodeName(dir.filePath(u"fifo"_s)).constData(), 0600), 0);
    } else if (!QFileInfo::exists(kind)) {
        QSKIP("This system has no /dev/null");
    }

    const Run result = run(dir.path(), typed.toUtf8() + '\n');
    QCOMPARE(result.output,
             u"Nazwa pliku: Zapisano kart: 0, pominięto: 0, błędy zapisu: 0\n"
             "Zakończono konwersję!\n\n"_s);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(QDir(dir.filePath(u"Contacts"_s)).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot),
             true);
}

// A FIFO that someone writes to (a decompressor, say) is read to its end like a file.
void tst_VcardSplit::contactsFileFromFifoWriter()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray fifo = QFile::encodeName(dir.filePath(u"fifo"_s));
    QCOMPARE(mkfifo(fifo.constData(), 0600), 0);
    // Opened for reading and writing, it does not wait for a partner, and holds the data until
    // the program reads it.
    const int writer = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(writer >= 0);
    const QByteArray input = anna + lukasz;
    QCOMPARE(::write(writer, input.constData(), size_t(input.size())), ssize_t(input.size()));

    QProcess process;
    start(process, dir.path(), {});
    QVERIFY(process.waitForStarted());
    process.write("fifo\n");
    QVERIFY(process.waitForBytesWritten());
    process.closeWriteChannel();
    // Once the program holds the FIFO open, the data stays for it: close the writing end.
    QVERIFY(waitUntilOpen(process, QFile::decodeName(fifo)));
    ::close(writer);
    const Run result = finish(process);
    QCOMPARE(result.output,
             u"Nazwa pliku: Anna Nowak\nŁukasz Wiśniewski\n"
             "Zapisano kart: 2, pominięto: 0, błędy zapisu: 0\nZakończono konwersję!\n\n"_s);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s)), anna);
    QCOMPARE(readFile(dir.filePath(u"Contacts/Łukasz Wiśniewski.vcf"_s)), lukasz);
}

void tst_VcardSplit::readFault_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("reason");

    QTest::newRow("read-error") << u"error"_s << u"Input/output error"_s;
    QTest::newRow("truncated-while-read") << u"truncate"_s << u"plik skrócono w trakcie odczytu"_s;
}

// Reading that stops before the end of the file must not pass for a finished conversion: the
// cards after that point are missing.
void tst_VcardSplit::readFault()
{
    QFETCH(QString, mode);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString input = dir.filePath(u"kontakty.vcf"_s);
    QVERIFY(writeFile(input, anna + lukasz + annaAgain));

    // The fault strikes inside the second card's version line.
    const QStringList environment = {
        u"LD_PRELOAD="_s + QStringLiteral(FAULTYREAD_LIBRARY),
        u"FAULTY_READ_PATH="_s + QFileInfo(input).canonicalFilePath(),
        u"FAULTY_READ_AFTER="_s + QString::number(anna.size() + 20),
        u"FAULTY_READ_MODE="_s + mode,
    };
    const Run result = run(dir.path(), "kontakty.vcf\n", environment);
    QCOMPARE(result.output,
             u"Nazwa pliku: Anna Nowak\nPominięto niedokończoną kartę (wiersz 5).\n"
             "Błąd podczas odczytu pliku 'kontakty.vcf': "_s
                     + reason
                     + u"\nZapisano kart: 1, pominięto: 1, błędy zapisu: 0\n"
                       "Przerwano konwersję!\n\n"_s);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(tree(dir.path()),
             QStringList({ u"Contacts"_s, u"Contacts/Anna Nowak.vcf"_s, u"kontakty.vcf"_s }));
    QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s)), anna);
}

void tst_VcardSplit::standardStreamClosed_data()
{
    QTest::addColumn<int>("fd");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("input") << 0 << u"Nazwa pliku: Brak pliku ''!\n\n"_s << 1;
    QTest::newRow("output") << 1 << QString() << 0;
}

// A closed standard stream neither hangs the run nor lets console text into a card file.
void tst_VcardSplit::standardStreamClosed()
{
    QFETCH(int, fd);
    QFETCH(QString, output);
    QFETCH(int, exitCode);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(writeFile(dir.filePath(u"kontakty.vcf"_s), anna + lukasz));

    const Run result = run(dir.path(), "kontakty.vcf\n", {}, [fd] { ::close(fd); });
    QCOMPARE(result.output, output);
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode == 0) {
        QCOMPARE(readFile(dir.filePath(u"Contacts/Anna Nowak.vcf"_s)), anna);
        QCOMPARE(readFile(dir.filePath(u"Contacts/Łukasz Wiśniewski.vcf"_s)), lukasz);
    }
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

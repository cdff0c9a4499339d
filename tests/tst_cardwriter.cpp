// Proves that card files get safe, unique names inside their directory, hold the card's exact
// bytes, and that a file that cannot be written is reported and leaves nothing behind.
#include "cardwriter.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class tst_CardWriter : public QObject
{
    Q_OBJECT

private slots:
    void safeStem_data();
    void safeStem();
    void uniqueNames_data();
    void uniqueNames();
    void writesExactBytes();
    void failures_data();
    void failures();
};

void tst_CardWriter::safeStem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stem");

    QTest::newRow("plain") << u"Łukasz Żółć"_s << u"Łukasz Żółć"_s;
    QTest::newRow("parent-path") << u"../../x"_s << u".._.._x"_s;
    QTest::newRow("absolute-path") << u"/etc/passwd"_s << u"_etc_passwd"_s;
    QTest::newRow("windows-path") << u"C:\\Windows\\x"_s << u"C__Windows_x"_s;
    QTest::newRow("reserved-characters") << u"a*b?c\"d<e>f|g"_s << u"a_b_c_d_e_f_g"_s;
    QTest::newRow("control-characters") << u"a\tb\u0085c\u007f"_s << u"a_b_c_"_s;
    QTest::newRow("surrounding-space") << u"  Anna \u00a0"_s << u"Anna"_s;
    QTest::newRow("trailing-dots") << u"Anna Jr. . ."_s << u"Anna Jr"_s;
    QTest::newRow("leading-dots") << u"..Anna"_s << u"..Anna"_s;
    QTest::newRow("only-dots") << u".."_s << u"_"_s;
    QTest::newRow("only-space") << u"   "_s << u"_"_s;
    QTest::newRow("empty") << QString() << u"_"_s;
    QTest::newRow("only-slashes") << u"//"_s << u"__"_s;
    QTest::newRow("device") << u"CON"_s << u"_CON"_s;
    QTest::newRow("device-lower-case") << u"nul"_s << u"_nul"_s;
    QTest::newRow("device-with-extension") << u"Com1.txt"_s << u"_Com1.txt"_s;
    QTest::newRow("device-space-before-dot") << u"LPT9 .x"_s << u"_LPT9 .x"_s;
    QTest::newRow("not-device-longer") << u"CONSOLE"_s << u"CONSOLE"_s;
    QTest::newRow("not-device-number") << u"COM10"_s << u"COM10"_s;
    QTest::newRow("not-device-zero") << u"LPT0"_s << u"LPT0"_s;
    QTest::newRow("device-left-by-cut") << u"CON"_s + QString(200, u' ') + u'x' << u"_CON"_s;
    QTest::newRow("half-surrogate-pairs")
            << u"x"_s + QChar(0xdc00) + QChar(0xd800) + u"y\U0001F600"_s << u"x__y\U0001F600"_s;
    QTest::newRow("long-ascii") << QString(250, u'a') << QString(200, u'a');
    QTest::newRow("long-two-byte") << QString(150, u'ż') << QString(100, u'ż');
    const QString smile = u"\U0001F600"_s; // four bytes, two UTF-16 units
    QTest::newRow("long-surrogates") << u"a"_s + smile.repeated(60) << u"a"_s + smile.repeated(49);
    QTest::newRow("cut-then-trimmed") << QString(198, u'a') + u" .b"_s << QString(198, u'a');
}

void tst_CardWriter::safeStem()
{
    QFETCH(QString, name);
    QFETCH(QString, stem);
    QCOMPARE(safeFileStem(name), stem);
    QVERIFY(stem.toUtf8().size() <= 200);
}

void tst_CardWriter::uniqueNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("fileNames");

    QTest::newRow("duplicates-any-case")
            << QStringList { u"Anna"_s, u"Anna"_s, u"anna"_s, u"ANNA"_s }
            << QStringList { u"Anna.vcf"_s, u"Anna (2).vcf"_s, u"anna (3).vcf"_s,
                             u"ANNA (4).vcf"_s };
    QTest::newRow("number-already-taken")
            << QStringList { u"Anna (2)"_s, u"Anna"_s, u"Anna"_s, u"Anna"_s }
            << QStringList { u"Anna (2).vcf"_s, u"Anna.vcf"_s, u"Anna (3).vcf"_s,
                             u"Anna (4).vcf"_s };
    // macOS writes names decomposed; there and on Windows both spellings are one file.
    QTest::newRow("look-alike-spellings")
            << QStringList { u"Zoe\u0308"_s, u"Zo\u00eb"_s, u"ZOE\u0308"_s, u"Zoe"_s }
            << QStringList { u"Zo\u00eb.vcf"_s, u"Zo\u00eb (2).vcf"_s, u"ZO\u00cb (3).vcf"_s,
                             u"Zoe.vcf"_s };
    QTest::newRow("folds-to-ascii") << QStringList { u"kelvin"_s, u"\u212Aelvin"_s }
                                    << QStringList { u"kelvin.vcf"_s, u"Kelvin (2).vcf"_s };
    QTest::newRow("long-s-folds-to-s") << QStringList { u"sara"_s, u"\u017Fara"_s }
                                       << QStringList { u"sara.vcf"_s, u"\u017Fara (2).vcf"_s };
    QTest::newRow("same-after-cleaning")
            << QStringList { u"a/b"_s, u"a:b"_s, u"a_b."_s }
            << QStringList { u"a_b.vcf"_s, u"a_b (2).vcf"_s, u"a_b (3).vcf"_s };
    QTest::newRow("half-surrogates")
            << QStringList { u"x"_s + QChar(0xd800), u"x"_s + QChar(0xd801) }
            << QStringList { u"x_.vcf"_s, u"x_ (2).vcf"_s };
    QTest::newRow("long") << QStringList { QString(300, u'a'), QString(300, u'a') }
                          << QStringList { QString(200, u'a') + u".vcf"_s,
                                           QString(196, u'a') + u" (2).vcf"_s };
    // Long names that differ only past the cut share their numbers.
    const QString x = QString(199, u'a') + u'x';
    const QString y = QString(199, u'a') + u'y';
    QTest::newRow("cut-alike") << QStringList { x, x, y, y }
                               << QStringList { x + u".vcf"_s, QString(196, u'a') + u" (2).vcf"_s,
                                                y + u".vcf"_s, QString(196, u'a') + u" (3).vcf"_s };
    QStringList many(10, QString(300, u'a'));
    QStringList manyFiles = { QString(200, u'a') + u".vcf"_s };
    for (int number = 2; number <= 9; ++number)
        manyFiles << QString(196, u'a') + u" (%1).vcf"_s.arg(number);
    manyFiles << QString(195, u'a') + u" (10).vcf"_s;
    QTest::newRow("long-past-nine") << many << manyFiles;
}

void tst_CardWriter::uniqueNames()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, fileNames);

    QString console;
    QTextStream stream(&console);
    CardWriter writer(QDir(), stream);
    QStringList claimed;
    for (const QString &name : std::as_const(names))
        claimed << writer.claimFileName(name);
    QCOMPARE(claimed, fileNames);
}

void tst_CardWriter::writesExactBytes()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QFile stale(dir.filePath(u"Anna.vcf"_s));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray(1000, 'x'));
    stale.close();

    QString console;
    QTextStream stream(&console);
    CardWriter writer(QDir(dir.path()), stream);
    const QByteArray card = "BEGIN:VCARD\r\nFN:Anna\r\nNOTE:\xFF\0\r\r\nEND:VCARD\n"_ba;
    QVERIFY(writer.write(u"Anna"_s, card));
    QVERIFY(writer.write(u"../Anna"_s, "x"_ba));

    QCOMPARE(readAll(dir.filePath(u"Anna.vcf"_s)), card);
    QCOMPARE(readAll(dir.filePath(u".._Anna.vcf"_s)), "x"_ba);
    QCOMPARE(QDir(dir.path())
                     .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden)
                     .size(),
             2);
    QCOMPARE(console, QString());
    QCOMPARE(writer.written(), 2);
    QCOMPARE(writer.failed(), 0);
}

void tst_CardWriter::failures_data()
{
    QTest::addColumn<QString>("obstacle"); // what stands under the card's name, or "disk-full"
    QTest::addColumn<QString>("message");

    const QString notPlain =
            u"Błąd podczas otwierania pliku: nie jest zwykłym plikiem(Anna.vcf)\n"_s;
    QTest::newRow("directory") << u"directory"_s
                               << u"Błąd podczas otwierania pliku: Is a directory(Anna.vcf)\n"_s;
    QTest::newRow("link-outside") << u"link-outside"_s << notPlain;
    QTest::newRow("dangling-link") << u"dangling-link"_s << notPlain;
    QTest::newRow("fifo") << u"fifo"_s << notPlain;
    QTest::newRow("hard-link")
            << u"hard-link"_s
            << u"Błąd podczas otwierania pliku: ma też inną nazwę (dowiązanie twarde)(Anna.vcf)\n"_s;
    QTest::newRow("disk-full") << u"disk-full"_s
                               << u"Błąd podczas zapisu pliku: File too large(Anna.vcf)\n"_s;
}

// Nothing outside the directory is written through a name in it, nothing blocks the run, and a
// card cut short leaves no partial file.
void tst_CardWriter::failures()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(QDir(dir.path()).mkdir(u"Contacts"_s));
    const QString outside = dir.filePath(u"outside.txt"_s);
    QVERIFY(writeFile(outside, "keep"));
    const QString path = dir.filePath(u"Contacts/Anna.vcf"_s);
    const QByteArray encodedPath = QFile::encodeName(path);
    if (obstacle == u"directory")
        QVERIFY(QDir(dir.path()).mkdir(u"Contacts/Anna.vcf"_s));
    else if (obstacle == u"link-outside")
        QVERIFY(QFile::link(outside, path));
    else if (obstacle == u"dangling-link")
        QVERIFY(QFile::link(dir.filePath(u"new.txt"_s), path));
    else if (obstacle == u"fifo")
        QCOMPARE(mkfifo(encodedPath.constData(), 0600), 0);
    else if (obstacle == u"hard-link")
        QCOMPARE(::link(QFile::encodeName(outside).constData(), encodedPath.constData()), 0);
    const QFileInfo before(path);

    QString console;
    QTextStream stream(&console);
    CardWriter writer(QDir(dir.filePath(u"Contacts"_s)), stream);
    const QByteArray card = "BEGIN:VCARD\r\nFN:Anna\r\nEND:VCARD\r\n"_ba;
    if (obstacle == u"disk-full") {
        // A file size limit fails the write part way, as a full disk does.
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 10;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = writer.write(u"Anna"_s, card);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QVERIFY(!QFileInfo::exists(path));
    } else {
        QVERIFY(!writer.write(u"Anna"_s, card));
        // What was in the way is left as it was.
        const QFileInfo after(path);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(after.isFile(), before.isFile());
    }
    QCOMPARE(console, message);
    QCOMPARE(writer.failed(), 1);
    QCOMPARE(writer.written(), 0);
    QCOMPARE(readAll(outside), "keep"_ba);
    QVERIFY(!QFileInfo::exists(dir.filePath(u"new.txt"_s)));

    // The run goes on: the next card of that name is written.
    QVERIFY(writer.write(u"Anna"_s, "x"_ba));
    QCOMPARE(readAll(dir.filePath(u"Contacts/Anna (2).vcf"_s)), "x"_ba);
    QCOMPARE(writer.written(), 1);
}

QTEST_APPLESS_MAIN(tst_CardWriter)
#include "tst_cardwriter.moc"

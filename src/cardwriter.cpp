#include "cardwriter.h"
#include "textchecks.h"

#include <QFileInfo>
#include <QTextStream>
#include <QVarLengthArray>

#ifndef Q_OS_WIN
#    include <cerrno>
#    include <dirent.h>
#    include <fcntl.h>
#    include <sys/stat.h>
#    include <unistd.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

// Leaves room in common 255-byte name limits for the number and the extension.
constexpr qsizetype maxStemBytes = 200;

bool isForbidden(QChar c)
{
    switch (c.unicode()) {
    case u'/':
    case u'\\':
    case u':':
    case u'*':
    case u'?':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
        return true;
    default:
        return isControl(c);
    }
}

// Windows drops trailing dots and spaces itself, so "Anna." and "Anna" would be one file.
QString trimEnd(QString stem)
{
    qsizetype size = stem.size();
    while (size > 0 && (stem[size - 1] == u'.' || stem[size - 1].isSpace()))
        --size;
    stem.truncate(size);
    return stem.isEmpty() ? u"_"_s : stem;
}

// Cuts to at most maxBytes of UTF-8, never inside a character.
QString fitBytes(QString stem, qsizetype maxBytes)
{
    if (stem.size() * 3 <= maxBytes)
        return stem; // no UTF-16 unit takes more than three bytes
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < stem.size(); ++i) {
        const char16_t c = stem[i].unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < stem.size()
                && QChar::isLowSurrogate(stem[i + 1].unicode());
        bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : pair ? 4 : 3;
        if (bytes > maxBytes) {
            stem.truncate(i);
            return trimEnd(stem);
        }
        if (pair)
            ++i;
    }
    return stem;
}

bool isDeviceName(const QString &stem)
{
    static const QSet<QString> devices = [] {
        QSet<QString> names { u"con"_s, u"prn"_s, u"aux"_s, u"nul"_s };
        for (char16_t digit = u'1'; digit <= u'9'; ++digit) {
            names.insert(u"com"_s + QChar(digit));
            names.insert(u"lpt"_s + QChar(digit));
        }
        return names;
    }();
    // Windows ignores an extension and spaces: "con .txt" is the console too.
    const QStringView base = QStringView(stem).left(stem.indexOf(u'.')).trimmed();
    return (base.size() == 3 || base.size() == 4) && devices.contains(base.toString().toLower());
}

// Only a fingerprint is kept, so the table costs a few bytes a card however long the names are.
// Two names that share one can only make a card take a number it did not need.
size_t sameFileKey(const QString &fileName)
{
    // Below the combining marks, every character folds to one character and nothing composes,
    // which covers Polish and every other Latin name without Qt's general folding.
    QVarLengthArray<char16_t, 256> folded;
    for (const QChar c : fileName) {
        if (c.unicode() >= 0x300)
            return qHash(fileName.toCaseFolded().normalized(QString::NormalizationForm_C));
        const char16_t u = c.unicode();
        folded.append(u >= u'A' && u <= u'Z' ? char16_t(u + (u'a' - u'A'))
                              : u < 0x80     ? u
                                             : char16_t(QChar::toCaseFolded(u)));
    }
    return qHash(QStringView(folded.constData(), folded.size()));
}

QByteArray localBytes(QByteArrayView card)
{
#ifdef Q_OS_WIN
    return QString::fromUtf8(card).toLocal8Bit();
#else
    // The local 8-bit encoding is UTF-8 here, so the bytes go out as they came in, even those
    // that are not valid UTF-8.
    return QByteArray::fromRawData(card.data(), card.size());
#endif
}

} // namespace

QString safeFileStem(const QString &name)
{
    QString stem = name;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isForbidden(name[i]) || isLoneSurrogate(name, i))
            stem[i] = u'_'; // the copy is made here, for the few names that need it
    }
    // The cut may leave "CON" and spaces, so the device check comes after it.
    stem = fitBytes(trimEnd(stem.trimmed()), maxStemBytes);
    return isDeviceName(stem) ? fitBytes(u'_' + stem, maxStemBytes) : stem;
}

CardWriter::CardWriter(const QDir &directory, QTextStream &console)
    : m_directory(directory), m_console(console)
{
#ifndef Q_OS_WIN
    m_directoryFd = ::open(QFile::encodeName(directory.path()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

CardWriter::~CardWriter()
{
#ifndef Q_OS_WIN
    if (m_directoryFd >= 0)
        ::close(m_directoryFd);
#endif
}

void CardWriter::reserveFile(const QFile &file, const QString &absolutePath)
{
#ifdef Q_OS_WIN
    Q_UNUSED(file);
    const QFileInfo info(absolutePath);
    if (QDir(info.absolutePath()) == m_directory)
        claim(info.fileName());
#else
    // Names alone miss hard links and symbolic links, so compare the files themselves. This
    // reads the directory once, before any card: nothing is looked up per card.
    Q_UNUSED(absolutePath);
    struct stat target;
    DIR *dir = fstat(file.handle(), &target) == 0
            ? opendir(QFile::encodeName(m_directory.path()).constData())
            : nullptr;
    if (!dir)
        return;
    while (const dirent *entry = readdir(dir)) {
        struct stat found;
        if (fstatat(dirfd(dir), entry->d_name, &found, 0) == 0 && found.st_dev == target.st_dev
            && found.st_ino == target.st_ino)
            claim(QFile::decodeName(entry->d_name));
    }
    closedir(dir);
#endif
}

bool CardWriter::claim(const QString &fileName)
{
    const qsizetype before = m_taken.size();
    m_taken.insert(sameFileKey(fileName));
    return m_taken.size() != before;
}

QString CardWriter::claimFileName(const QString &name)
{
    const QString stem = safeFileStem(name.normalized(QString::NormalizationForm_C));
    QString fileName = stem + u".vcf"_s;
    if (claim(fileName))
        return fileName;
    // Remembering the next number to try keeps a run of many equal names linear. It is kept per
    // cut stem and number of digits, what a numbered name is made of: long stems that differ only
    // past the cut share their numbered names, and a count per stem would walk each of them past
    // the numbers the others took, in time quadratic in their count.
    for (int number = 2;;) {
        const QString digits(QString::number(number).size(), u'#');
        const QString cut = fitBytes(stem, maxStemBytes - digits.size() - 3);
        int &next = m_nextNumber[sameFileKey(cut + u" ("_s + digits + u')')];
        number = std::max(number, next);
        if (QString::number(number).size() != digits.size())
            continue; // past the numbers of this width: the cut may be shorter now
        next = number + 1;
        fileName = cut + u" ("_s + QString::number(number) + u").vcf"_s;
        if (claim(fileName))
            return fileName;
        ++number;
    }
}

void CardWriter::report(const QString &what, const QString &error, const QString &fileName)
{
    m_console << what << error << u'(' << fileName << u')' << u'\n';
    m_console.flush();
    ++m_failed;
}

#ifndef Q_OS_WIN
namespace {

// What stands under a card's name may have been put there by someone else: a link to a file
// outside the directory, a FIFO that would block the run, or a hard link that shares its data
// with a file elsewhere. Only a plain file of its own is replaced. Returns the open descriptor,
// or -1 with the reason in error.
int openCardFile(int directoryFd, const QByteArray &name, QString &error)
{
    constexpr int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    // Nearly always the name is new, and a file just created is ours: nothing to check.
    int fd = ::openat(directoryFd, name.constData(), flags | O_EXCL, 0666);
    if (fd >= 0)
        return fd;
    if (errno == EEXIST) // O_TRUNC waits until the file is known to be ours
        fd = ::openat(directoryFd, name.constData(), flags, 0666);
    const QString notPlain = u"nie jest zwykłym plikiem"_s;
    if (fd < 0) {
        // A link refused by O_NOFOLLOW, or a FIFO nobody reads: the system's words for these
        // ("Too many levels of symbolic links", "No such device or address") would mislead.
        error = errno == ELOOP || errno == ENXIO ? notPlain : qt_error_string(errno);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        error = qt_error_string(errno);
    } else if (!S_ISREG(info.st_mode)) {
        error = notPlain;
    } else if (info.st_nlink > 1) {
        error = u"ma też inną nazwę (dowiązanie twarde)"_s;
    } else if (ftruncate(fd, 0) != 0) {
        error = qt_error_string(errno);
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

// Returns the system's description of the failure, or an empty string.
QString writeAndClose(int fd, QByteArrayView bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    int error = 0;
    while (left > 0) {
        const ssize_t done = ::write(fd, data, size_t(left));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            error = done < 0 ? errno : ENOSPC;
            break;
        }
        data += done;
        left -= done;
    }
    // Network file systems may report a failed write only here.
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return error == 0 ? QString() : qt_error_string(error);
}

} // namespace
#endif

bool CardWriter::write(const QString &name, QByteArrayView card)
{
    const QString fileName = claimFileName(name);
    const QByteArray bytes = localBytes(card);
#ifndef Q_OS_WIN
    const QByteArray localName = QFile::encodeName(fileName);
    QString error;
    const int fd = openCardFile(m_directoryFd, localName, error);
    if (fd < 0) {
        report(u"Błąd podczas otwierania pliku: "_s, error, fileName);
        return false;
    }
    error = writeAndClose(fd, bytes);
    if (!error.isEmpty()) {
        report(u"Błąd podczas zapisu pliku: "_s, error, fileName);
        ::unlinkat(m_directoryFd, localName.constData(), 0);
        return false;
    }
#else
    m_file.setFileName(m_directory.filePath(fileName));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        report(u"Błąd podczas otwierania pliku: "_s, m_file.errorString(), fileName);
        return false;
    }
    // close() forgets an earlier write error once it succeeds, so keep it first.
    QString error = m_file.write(bytes) == bytes.size() ? QString() : m_file.errorString();
    m_file.close();
    if (error.isEmpty() && m_file.error() != QFileDevice::NoError)
        error = m_file.errorString();
    if (!error.isEmpty()) {
        report(u"Błąd podczas zapisu pliku: "_s, error, fileName);
        m_file.remove();
        return false;
    }
#endif
    ++m_written;
    return true;
}

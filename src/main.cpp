#include "cardsplitter.h"
#include "cardwriter.h"
#include "console.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#ifndef Q_OS_WIN
#    include <fcntl.h>
#    include <sys/stat.h>
#    include <unistd.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

// Dragging a file onto a console window types its path with quotes and a trailing space.
QString unquoted(const QString &typed)
{
    QString name = typed.trimmed();
    if (name.size() >= 2 && (name.front() == u'"' || name.front() == u'\'')
        && name.back() == name.front())
        name = name.mid(1, name.size() - 2);
    return name;
}

bool openForReading(QFile &input, const QString &name)
{
#ifdef Q_OS_WIN
    input.setFileName(name);
    return input.open(QIODevice::ReadOnly);
#else
    // Opening a FIFO waits for someone to write to it; nobody may ever come. Without a writer
    // it then reads as empty, like /dev/null.
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || flags < 0
        || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0
        || !input.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#endif
}

// Returns the name under which the file opened, or an empty string.
QString openContacts(QFile &input, const QString &typed)
{
    // The system would stop reading the name at a NUL and open some other file.
    if (typed.contains(QChar::Null))
        return QString();
    if (openForReading(input, typed))
        return typed;
    const QString name = unquoted(typed);
    if (name.isEmpty() || name == typed || !openForReading(input, name))
        return QString();
    return name;
}

} // namespace

int main(int argc, char *argv[])
{
    // Sets the process locale, so the system's error descriptions come in the user's language.
    QCoreApplication app(argc, argv);
    const Console console;
    QTextStream in(stdin);
    QTextStream out(stdout);
    in.setEncoding(console.encoding());
    out.setEncoding(console.encoding());

    out << u"Nazwa pliku: "_s;
    out.flush();
    const QString typed = in.readLine();

    QFile input;
    const QString inputName = openContacts(input, typed);
    if (inputName.isEmpty()) {
        out << u"Brak pliku '"_s << typed << u"'!\n\n"_s;
        out.flush();
        pause(out);
        return 1;
    }
    // Taken before entering Contacts, while a relative name still means what the user meant.
    const QString inputPath = QFileInfo(inputName).absoluteFilePath();
    const qint64 sizeAtStart = input.isSequential() ? 0 : input.size();

    QDir().mkdir(u"Contacts"_s);
    if (!QDir::setCurrent(u"Contacts"_s)) {
        out << u"Nie można utworzyć katalogu 'Contacts'!\n\n"_s;
        out.flush();
        input.close();
        pause(out);
        return 1;
    }

    const QDir contacts(QDir::currentPath());
    CardWriter writer(contacts, out);
    writer.reserveFile(input, inputPath);

    const SplitResult result =
            splitCards(input, out, [&writer](const QString &name, QByteArrayView card) {
                writer.write(name, card);
            });

    // A read error ends the walk just as the end of the file does; the cards after it are lost
    // unless the user hears of it. So are those cut off when the file shrinks while it is read.
    QString readError;
    if (input.error() != QFileDevice::NoError)
        readError = input.errorString();
    else if (input.pos() < sizeAtStart)
        readError = u"plik skrócono w trakcie odczytu"_s;
    if (!readError.isEmpty())
        out << u"Błąd podczas odczytu pliku '"_s << inputName << u"': "_s << readError << u'\n';
    out << u"Zapisano kart: %1, pominięto: %2, błędy zapisu: %3\n"_s.arg(writer.written())
                    .arg(result.skipped)
                    .arg(writer.failed())
        << (readError.isEmpty() ? u"Zakończono konwersję!\n\n"_s : u"Przerwano konwersję!\n\n"_s);
    out.flush();
    input.close();
    pause(out);
    return writer.failed() > 0 || !readError.isEmpty() ? 2 : 0;
}

#include "cardsplitter.h"
#include "cardwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

#ifndef Q_OS_WIN
#    include <csignal>
#    include <termios.h>
#    include <unistd.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

#ifndef Q_OS_WIN
termios savedTerminal;

void restoreTerminalAndDie(int signalNumber)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}
#endif

// Keeps a console window opened just for the tool readable until the user has seen the end.
void pause(QTextStream &out)
{
#ifdef Q_OS_WIN
    Q_UNUSED(out);
    std::system("pause");
#else
    // Nobody is there to press a key when a script or a pipe runs the tool: do not hang.
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)
        || tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return;
    out << u"Naciśnij dowolny klawisz, aby zakończyć..."_s;
    out.flush();
    termios raw = savedTerminal;
    // Without ISIG, Ctrl+C is just the key that ends the wait, and the terminal is restored.
    raw.c_lflag &= ~(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    std::signal(SIGTERM, restoreTerminalAndDie);
    std::signal(SIGHUP, restoreTerminalAndDie);
    // Keys pressed while the names scrolled by must not end the wait unseen.
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) {
        char key;
        [[maybe_unused]] const ssize_t got = read(STDIN_FILENO, &key, 1);
        // What is left of a key's escape sequence must not reach the shell.
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    }
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
    out << u'\n';
    out.flush();
#endif
}

// Dragging a file onto a console window types its path with quotes and a trailing space.
QString unquoted(const QString &typed)
{
    QString name = typed.trimmed();
    if (name.size() >= 2 && (name.front() == u'"' || name.front() == u'\'')
        && name.back() == name.front())
        name = name.mid(1, name.size() - 2);
    return name;
}

bool openContacts(QFile &input, const QString &typed)
{
    // The system would stop reading the name at a NUL and open some other file.
    if (typed.contains(QChar::Null))
        return false;
    input.setFileName(typed);
    if (input.open(QIODevice::ReadOnly))
        return true;
    const QString name = unquoted(typed);
    if (name.isEmpty() || name == typed)
        return false;
    input.setFileName(name);
    return input.open(QIODevice::ReadOnly);
}

} // namespace

int main(int argc, char *argv[])
{
    // Sets the process locale, so the system's error descriptions come in the user's language.
    QCoreApplication app(argc, argv);
    QTextStream in(stdin);
    QTextStream out(stdout);
    in.setEncoding(QStringConverter::System);
    out.setEncoding(QStringConverter::System);

    out << u"Nazwa pliku: "_s;
    out.flush();
    const QString typed = in.readLine();

    QFile input;
    if (!openContacts(input, typed)) {
        out << u"Brak pliku '"_s << typed << u"'!\n\n"_s;
        out.flush();
        pause(out);
        return 1;
    }
    // Taken before entering Contacts, while a relative name still means what the user meant.
    const QString inputPath = QFileInfo(input.fileName()).absoluteFilePath();

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

    out << u"Zapisano kart: %1, pominięto: %2, błędy zapisu: %3\n"_s.arg(writer.written())
                    .arg(result.skipped)
                    .arg(writer.failed())
        << u"Zakończono konwersję!\n\n"_s;
    out.flush();
    input.close();
    pause(out);
    return writer.failed() > 0 ? 2 : 0;
}

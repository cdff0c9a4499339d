#include "console.h"

#include <QTextStream>

#ifdef Q_OS_WIN
#    include <cstdio>
#    include <cstdlib>
#    include <io.h>
#    include <windows.h>
#else
#    include <csignal>
#    include <termios.h>
#    include <unistd.h>
#endif

using namespace Qt::Literals::StringLiterals;

#ifdef Q_OS_WIN

Console::Console()
{
    m_savedInputCodePage = GetConsoleCP();
    m_savedOutputCodePage = GetConsoleOutputCP();
    // Without a console (output to a file, input from a pipe) both calls fail and the streams
    // keep the local 8-bit encoding.
    if (SetConsoleOutputCP(CP_UTF8) && SetConsoleCP(CP_UTF8))
        m_encoding = QStringConverter::Utf8;
}

// The console window may belong to the command interpreter that started the tool.
Console::~Console()
{
    if (m_savedOutputCodePage != 0)
        SetConsoleOutputCP(m_savedOutputCodePage);
    if (m_savedInputCodePage != 0)
        SetConsoleCP(m_savedInputCodePage);
}

void pause(QTextStream &out)
{
    out.flush();
    // Nobody is there to press a key when a script or a pipe runs the tool: do not hang.
    if (_isatty(_fileno(stdin)) && _isatty(_fileno(stdout)))
        std::system("pause");
}

#else

namespace {

termios savedTerminal;
constexpr int stopSignals[] = { SIGTERM, SIGHUP, SIGINT, SIGQUIT };

void restoreTerminalAndDie(int signalNumber)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace

// A terminal shows the tool's own encoding, the locale's.
Console::Console() = default;
Console::~Console() = default;

void pause(QTextStream &out)
{
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
    // Keys raise no signals now, but another process still may.
    for (const int signalNumber : stopSignals)
        std::signal(signalNumber, restoreTerminalAndDie);
    // Keys pressed while the names scrolled by must not end the wait unseen.
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) {
        char key;
        [[maybe_unused]] const ssize_t got = read(STDIN_FILENO, &key, 1);
        // What is left of a key's escape sequence must not reach the shell.
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    }
    for (const int signalNumber : stopSignals)
        std::signal(signalNumber, SIG_DFL);
    out << u'\n';
    out.flush();
}

#endif

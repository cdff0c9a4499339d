#ifndef CONSOLE_H
#define CONSOLE_H

#include <QStringConverter>

class QTextStream;

// The console as the dialogue needs it, for as long as this object lives. On Windows the console
// starts in the OEM code page (852 for Polish) while the local 8-bit encoding is the ANSI one
// (1250), so Polish letters would come out garbled: the console is switched to UTF-8 and back.
class Console
{
public:
    Console();
    ~Console();
    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    // What the console streams must use to read and show the user's text.
    QStringConverter::Encoding encoding() const { return m_encoding; }

private:
    QStringConverter::Encoding m_encoding = QStringConverter::System;
    [[maybe_unused]] unsigned m_savedInputCodePage = 0;
    [[maybe_unused]] unsigned m_savedOutputCodePage = 0;
};

// Keeps a console window opened just for the tool readable until the user has seen the end.
void pause(QTextStream &out);

#endif // CONSOLE_H

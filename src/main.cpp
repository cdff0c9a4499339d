#include "cardsplitter.h"
#include "cardwriter.h"
#include "console.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

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
    const Console console;
    QTextStream in(stdin);
    QTextStream out(stdout);
    in.setEncoding(console.encoding());
    out.setEncoding(console.encoding());

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

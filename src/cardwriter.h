#ifndef CARDWRITER_H
#define CARDWRITER_H

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>

class QTextStream;

// A file name stem that every common file system takes and that stays inside its directory:
// no separators, no characters Windows, FAT cards or phones reject, no device names.
QString safeFileStem(const QString &name);

// Writes each card to a file of its own in one directory, under a name unique in this run.
class CardWriter
{
public:
    CardWriter(const QDir &directory, QTextStream &console);
    ~CardWriter();
    CardWriter(const CardWriter &) = delete;
    CardWriter &operator=(const CardWriter &) = delete;

    // Takes every name under which this open file (the contacts file) appears in the directory,
    // so it is never opened for writing, whether it lies there itself or through a link.
    void reserveFile(const QFile &file, const QString &absolutePath);
    // The file name, in composed form (NFC), for the next card with this contact name; the name
    // is then taken.
    QString claimFileName(const QString &name);
    // Writes the card and reports a failure on the console; a partial file is removed.
    bool write(const QString &name, QByteArrayView card);

    qint64 written() const { return m_written; }
    qint64 failed() const { return m_failed; }

private:
    bool claim(const QString &fileName);
    void report(const QString &what, const QString &error, const QString &fileName);

    QDir m_directory;
    QTextStream &m_console;
#ifdef Q_OS_WIN
    QFile m_file;
#else
    // Card files are opened relative to the directory itself: no path to build per card, and
    // the directory stays the one the run started in.
    int m_directoryFd = -1;
#endif
    QSet<size_t> m_taken; // fingerprints of the file names, case-folded and composed
    QHash<size_t, int> m_nextNumber; // fingerprint of "cut stem (##)" -> next number to try
    qint64 m_written = 0;
    qint64 m_failed = 0;
};

#endif // CARDWRITER_H

#ifndef TEXTCHECKS_H
#define TEXTCHECKS_H

#include <QString>

// Characters that must reach neither the console nor a file name: C0 and C1 controls.
inline bool isControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f);
}

// Half a surrogate pair, as a UTF-16 charset can leave behind. It cannot be encoded, so two names
// that differ only there would be one name on disk and on the console.
inline bool isLoneSurrogate(const QString &text, qsizetype i)
{
    const QChar c = text[i];
    if (c.isHighSurrogate())
        return i + 1 == text.size() || !text[i + 1].isLowSurrogate();
    return c.isLowSurrogate() && (i == 0 || !text[i - 1].isHighSurrogate());
}

#endif // TEXTCHECKS_H

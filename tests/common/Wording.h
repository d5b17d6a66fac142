#pragma once
// Checks on the language of a shown text: English words of ours left in a text
// shown in another language.

#include "Texts.h"

#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>

namespace wording {

/// The words of `text`, in lower case (letters only: "l'unità" is "l", "unità").
inline QSet<QString> wordsOf(const QString &text)
{
    static const QRegularExpression notLetters(QStringLiteral("[^\\p{L}]+"));
    QSet<QString> words;
    for (const QString &word : text.split(notLetters, Qt::SkipEmptyParts))
        words.insert(word.toLower());
    return words;
}

/// Each line of `text` without a last part in parentheses: where the
/// system's own message goes.
inline QString withoutSystemMessages(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char(')')) && line.contains(QLatin1String(" (")))
            line.truncate(line.lastIndexOf(QLatin1String(" (")));
    }
    return lines.join(QLatin1Char('\n'));
}

/// Texts of the table that are the same word in English and in another
/// language, and so are that language's own.
inline bool sameWordInBoth(Texts::Language language, const QString &text)
{
    return (language == Texts::Language::French && text == QLatin1String("absent"))
           || (language == Texts::Language::Italian && text == QLatin1String("No"));
}

/// The English words of ours left in `shown`, a text shown in `language`:
/// words that an English text of the table has and no text of `language` has
/// (a text the same as the English one does not count as one of `language`,
/// unless it is a word both share).
/// `notOurs` (paths, device names, the system's messages) are taken out first.
inline QStringList englishLeft(QString shown, Texts::Language language, const QStringList &notOurs = {})
{
    for (const QString &part : notOurs)
        shown.remove(part);
    QSet<QString> english, theirs;
    for (int k = 0; k < Texts::kKeyCount; ++k) {
        const QString inEnglish = Texts::text(Texts::Key(k), Texts::Language::English);
        const QString inTheirs = Texts::text(Texts::Key(k), language);
        english += wordsOf(inEnglish);
        if (inTheirs != inEnglish || sameWordInBoth(language, inTheirs))
            theirs += wordsOf(inTheirs);
    }
    QStringList left;
    for (const QString &word : wordsOf(shown)) {
        if (english.contains(word) && !theirs.contains(word))
            left << word;
    }
    left.sort();
    return left;
}

} // namespace wording

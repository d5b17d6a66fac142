// The message catalogue: every loader fills every slot and chooses the language
// of the other texts, the step texts the wizard compares stay distinct, and the
// texts with odd spacing survive character for character. The table of the
// other texts has every text in every language, with the same parts.

#include "Testfile.h"
#include "Texts.h"
#include "Variabili.h"
#include "Wording.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

using namespace Variabili;

using Loader = void (*)();
Q_DECLARE_METATYPE(Loader)
Q_DECLARE_METATYPE(Texts::Language)
Q_DECLARE_METATYPE(Texts::Key)

namespace {

constexpr Texts::Language kLanguages[] = {Texts::Language::French, Texts::Language::German,
                                          Texts::Language::English, Texts::Language::Italian};

/// The placeholders of a text, in order of appearance.
QStringList placeholders(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%[0-9]+"));
    QStringList found;
    for (auto it = marker.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    return found;
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        for (int i = 0; i < kSlotCount; ++i)
            catalogueSlots()[i]->clear();
    }

    void loaders_data()
    {
        QTest::addColumn<Loader>("loader");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("portTest");
        QTest::addColumn<Texts::Language>("language");
        QTest::addColumn<QString>("diskFull"); // a text of the table, in that language
        QTest::newRow("French") << Loader(&Testfile::LoadFrench) << "Procédure de mise à jour Bios K410" << "Test da la porte sériel"
                                << Texts::Language::French << "le disque est plein";
        QTest::newRow("German") << Loader(&Testfile::LoadGerman) << "Biosneubearbeitungprozess von K410" << "Reihentürtest"
                                << Texts::Language::German << "der Datenträger ist voll";
        QTest::newRow("English") << Loader(&Testfile::LoadEnglish) << "Procedure to update Bios K410" << "Serial port test"
                                 << Texts::Language::English << "the disk is full";
        QTest::newRow("Italian") << Loader(&Testfile::LoadItalian) << "Procedura di aggiornamento Bios K410" << "Test porta seriale"
                                 << Texts::Language::Italian << "il disco è pieno";
    }

    // Each loader fills all 24 slots and makes its language the one of the
    // other texts, and the six instruction texts differ, so the wizard can
    // tell its steps apart by the instruction box alone.
    void loaders()
    {
        QFETCH(Loader, loader);
        QFETCH(QString, title);
        QFETCH(QString, portTest);
        QFETCH(Texts::Language, language);
        QFETCH(QString, diskFull);
        Texts::setLanguage(language == Texts::Language::English ? Texts::Language::German : Texts::Language::English);
        loader();
        QCOMPARE(Texts::language(), language);
        QCOMPARE(Texts::text(Texts::Key::DiskFull), diskFull);
        for (int i = 0; i < kSlotCount; ++i)
            QVERIFY2(!catalogueSlots()[i]->isEmpty(), qPrintable(QString::number(i + 1)));
        QCOMPARE(strTitle, title);
        QCOMPARE(strPortTest, portTest);
        const QSet<QString> steps{strIstrCable, strIstrTest, strIstrPowerOff, strIstrMode, strIstrStart, strIstrPowerOn};
        QCOMPARE(steps.size(), 6);
        // Latin-1 only: the texts must survive a round trip through ISO 8859-1.
        for (int i = 0; i < kSlotCount; ++i) {
            const QString &t = *catalogueSlots()[i];
            QCOMPARE(QString::fromLatin1(t.toLatin1()), t);
        }
    }

    // A loader replaces every slot: no text of the previous language survives.
    void noMixingOfLanguages()
    {
        Testfile::LoadEnglish();
        QStringList english;
        for (int i = 0; i < kSlotCount; ++i)
            english << *catalogueSlots()[i];
        Testfile::LoadItalian();
        for (int i = 0; i < kSlotCount; ++i)
            QVERIFY2(*catalogueSlots()[i] != english[i], qPrintable(english[i]));
    }

    void textTable_data()
    {
        QTest::addColumn<Texts::Key>("key");
        for (int k = 0; k < Texts::kKeyCount; ++k) {
            const QString english = Texts::text(Texts::Key(k), Texts::Language::English);
            QTest::addRow("%d %s", k, qPrintable(english.left(40))) << Texts::Key(k);
        }
    }

    // Every text of the table exists in every language, with the same parts
    // (%1, %2...), as often as in English; a text the same as the English one
    // is no translation, unless it has no words or is a word both languages
    // share. Where the English text ends with a part in parentheses (the
    // system's own message), so does every language: the system's words come
    // last. No text starts or ends with a space.
    void textTable()
    {
        QFETCH(Texts::Key, key);
        static const QRegularExpression letter(QStringLiteral("\\p{L}"));
        const QString english = Texts::text(key, Texts::Language::English);
        QStringList wanted = placeholders(english);
        wanted.sort();
        static const QRegularExpression systemLast(QStringLiteral("\\((%[0-9]+)\\)$"));
        const QRegularExpressionMatch last = systemLast.match(english);
        for (const Texts::Language language : kLanguages) {
            const QString text = Texts::text(key, language);
            const QByteArray where = QByteArray::number(int(language)) + ": " + text.toUtf8();
            QVERIFY2(!text.isEmpty(), where.constData());
            QVERIFY2(text == text.trimmed(), where.constData());
            QStringList got = placeholders(text);
            got.sort();
            QVERIFY2(got == wanted, where.constData());
            if (last.hasMatch())
                QVERIFY2(text.endsWith(last.captured()), where.constData());
            if (language != Texts::Language::English && text == english)
                QVERIFY2(!text.contains(letter) || wording::sameWordInBoth(language, text), where.constData());
        }
    }

    void trickyTexts()
    {
        Testfile::LoadEnglish();
        QCOMPARE(strFramode, QStringLiteral("Select upgrade method "));
        QVERIFY(strIstrTest.contains(QStringLiteral("If  the current Bios")));
        QCOMPARE(strLinking, QStringLiteral("Linking with K410 ..........."));
        QCOMPARE(strErasing, QStringLiteral("Wait! Bios cancellation in process......."));
        QCOMPARE(strConnected + QString::number(3), QStringLiteral("K410 connected to Com port3"));
        Testfile::LoadGerman();
        QVERIFY(strIstrCable.startsWith(QStringLiteral("Verbinden Sie dieDB9 Seite")));
        QVERIFY(strIstrCable.contains(QStringLiteral("die andere  Seite (DB9-25)")));
        QVERIFY(strIstrTest.contains(QStringLiteral("den  'Testreihentuer'")));
        QVERIFY(strIstrTest.contains(QStringLiteral("das  aktuelle")));
        QCOMPARE(strFraCom, QStringLiteral("Reihentürauswahl"));
        QCOMPARE(strFraCom.size(), 16); // "ü" is one character, not two bytes
        Testfile::LoadFrench();
        QCOMPARE(strBiosSaved, QStringLiteral("Le sauvetage bios est termine"));
        Testfile::LoadItalian();
        QCOMPARE(strFramode, QStringLiteral("Selezione modalità"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"

// The message catalogue: every loader fills every slot, the step texts the wizard
// compares stay distinct, and the texts with odd spacing survive character for character.

#include "Testfile.h"
#include "Variabili.h"

#include <QSet>
#include <QtTest>

using namespace Variabili;

using Loader = void (*)();
Q_DECLARE_METATYPE(Loader)

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
        QTest::newRow("French") << Loader(&Testfile::LoadFrench) << "Procédure de mise à jour Bios K410" << "Test da la porte sériel";
        QTest::newRow("German") << Loader(&Testfile::LoadGerman) << "Biosneubearbeitungprozess von K410" << "Reihentürtest";
        QTest::newRow("English") << Loader(&Testfile::LoadEnglish) << "Procedure to update Bios K410" << "Serial port test";
        QTest::newRow("Italian") << Loader(&Testfile::LoadItalian) << "Procedura di aggiornamento Bios K410" << "Test porta seriale";
    }

    // Each loader fills all 24 slots, and the six instruction texts differ, so
    // the wizard can tell its steps apart by the instruction box alone.
    void loaders()
    {
        QFETCH(Loader, loader);
        QFETCH(QString, title);
        QFETCH(QString, portTest);
        loader();
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

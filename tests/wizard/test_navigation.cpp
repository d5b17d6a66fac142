// Wizard navigation: every transition of Next, Previous, the port options and
// the mode options, with the step read off the window; and, for every step in
// every language, that the texts fit their boxes (pictures of each step are
// written to $K410_SHOTS_DIR when it is set).

#include "WizardTests.h"

#include "ProgressBar.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>
#include <QtTest>

using namespace Variabili;
using namespace wizardtest;

Q_DECLARE_METATYPE(wizardtest::Step)

namespace {

const QStringList kPortTestStep{"Text1_0", "fraTasti", "cmdCom", "cmdAnnulla"};
const QStringList kManualPortStep{"Text1_0", "Text1_6", "FraCom", "optCom1", "optCom2", "optCom3",
                                  "optCom4", "fraTasti", "cmdPrec", "cmdAnnulla"};
const QStringList kPowerOffStep{"Text1_0", "Text1_6", "Image4", "fraTasti", "cmdOk", "cmdPrec", "cmdAnnulla"};
const QStringList kModeStep{"Text1_0", "Text1_6", "fraMode", "optBakUp", "optUpgr",
                            "fraTasti", "cmdOk", "cmdPrec", "cmdAnnulla"};
const QStringList kStartStep{"Text1_0", "Text1_6", "fraTasti", "cmdStart", "cmdAnnulla"};

// Everything a person could see change on the window.
struct Snapshot
{
    QStringList shown;
    QString instruction, status, start, com, fraCom, fraMode;
    QList<bool> checked, enabled;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(frmIstruzioni &w)
{
    const frmIstruzioni::Controls &c = w.controls();
    Snapshot s;
    s.shown = shownControls(w);
    s.instruction = c.Text1(0)->toPlainText();
    s.status = c.Text1(6)->toPlainText();
    s.start = c.cmdStart->text();
    s.com = c.cmdCom->text();
    s.fraCom = c.FraCom->title();
    s.fraMode = c.fraMode->title();
    for (QAbstractButton *b : std::initializer_list<QAbstractButton *>{c.optCom1, c.optCom2, c.optCom3, c.optCom4,
                                                                      c.optBakUp, c.optUpgr, c.cmdCom, c.cmdStart}) {
        s.checked << b->isChecked();
        s.enabled << b->isEnabled();
    }
    return s;
}

} // namespace

class TestNavigation : public QObject
{
    Q_OBJECT
    frmIstruzioni &w = frmIstruzioni::instance();
    const frmIstruzioni::Controls &c = w.controls();

    void open(Loader loader = &Testfile::LoadEnglish)
    {
        loader();
        w.Load();
        w.show();
    }

    static void addLanguages()
    {
        QTest::addColumn<Loader>("loader");
        QTest::newRow("French") << Loader(&Testfile::LoadFrench);
        QTest::newRow("German") << Loader(&Testfile::LoadGerman);
        QTest::newRow("English") << Loader(&Testfile::LoadEnglish);
        QTest::newRow("Italian") << Loader(&Testfile::LoadItalian);
    }

private slots:
    void init() { freshPort(w); }
    void cleanup() { forceUnload(w); }

    void walkForward_data() { addLanguages(); }

    // Cable -> port test -> (port found) power-off -> mode -> start, in every language.
    void walkForward()
    {
        QFETCH(Loader, loader);
        open(loader);
        c.cmdOk->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrTest);
        QCOMPARE(shownControls(w), sorted(kPortTestStep));
        QCOMPARE(bytMode, quint8(1)); // Backup + Upgrade is preselected

        portTestFinds(w, 3);
        QCOMPARE(shownControls(w), sorted(kPowerOffStep));
        c.cmdOk->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrMode);
        QCOMPARE(c.fraMode->title(), strFramode);
        QCOMPARE(shownControls(w), sorted(kModeStep));

        c.cmdOk->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrStart);
        QCOMPARE(c.cmdStart->text(), strStartBackUp);
        QCOMPARE(shownControls(w), sorted(kStartStep));
        QCOMPARE(c.Text1(6)->toPlainText(), strConnected + QStringLiteral("3"));
        QCOMPARE(bytMode, quint8(1));
        QCOMPARE(intComPort, qint16(3));
    }

    void manualPort_data() { addLanguages(); }

    // No port answered: only the ports the test could open can be chosen; a
    // choice shows Next and names the port; Next goes to the power-off step.
    void manualPort()
    {
        QFETCH(Loader, loader);
        open(loader);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        c.cmdOk->click();
        portTestFindsNone(w, {2, 3});
        QCOMPARE(shownControls(w), sorted(kManualPortStep));
        QCOMPARE(c.FraCom->title(), strFraCom);

        QTest::mouseClick(c.optCom1, Qt::LeftButton); // disabled: the test could not open it
        QVERIFY(!c.optCom1->isChecked());
        QCOMPARE(intComPort, qint16(0));
        QVERIFY(c.cmdOk->isHidden());

        QTest::mouseClick(c.optCom2, Qt::LeftButton);
        QCOMPARE(intComPort, qint16(2));
        QCOMPARE(c.Text1(6)->toPlainText(), strConnected + QStringLiteral("2"));
        QCOMPARE(shownControls(w), sorted(kManualPortStep + QStringList{"cmdOk"}));

        QTest::mouseClick(c.optCom3, Qt::LeftButton); // another choice replaces the first
        QCOMPARE(intComPort, qint16(3));
        QCOMPARE(c.Text1(6)->toPlainText(), strConnected + QStringLiteral("3"));

        QTest::mouseClick(c.cmdOk, Qt::LeftButton);
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOff);
        QCOMPARE(shownControls(w), sorted(kPowerOffStep));
        QVERIFY(c.optCom3->isChecked());
    }

    // The status text of a port choice in English, digit right after the text.
    void portChoiceText()
    {
        open();
        walkTo(w, Step::ManualPort);
        QCOMPARE(c.Text1(6)->toPlainText(), QStringLiteral("K410 connected to Com port2"));
    }

    // Previous from the manual-port step: no option selected, status line hidden;
    // a later port test shows the status line again.
    void previousFromManualPort()
    {
        open();
        walkTo(w, Step::ManualPort);
        QVERIFY(c.optCom2->isChecked());
        c.cmdPrec->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrTest);
        QCOMPARE(shownControls(w), sorted(kPortTestStep));
        QVERIFY(c.cmdCom->isEnabled());
        for (QRadioButton *option : {c.optCom1, c.optCom2, c.optCom3, c.optCom4})
            QVERIFY(!option->isChecked());
        QCOMPARE(intComPort, qint16(2));

        // The next test finds nothing again: the frame shows with no choice made.
        portTestFindsNone(w, {2, 3});
        QCOMPARE(shownControls(w), sorted(kManualPortStep));
        QVERIFY(!c.optCom2->isChecked());
        QVERIFY(c.cmdOk->isHidden());
    }

    // Previous from the power-off step: the status line is emptied but stays,
    // a port chosen earlier stays chosen, the port test can run again.
    void previousFromPowerOff()
    {
        open();
        walkTo(w, Step::ManualPort);
        c.cmdOk->click();
        c.cmdCom->setEnabled(false); // as the port test leaves it
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOff);
        c.cmdPrec->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrTest);
        QCOMPARE(shownControls(w), sorted(QStringList(kPortTestStep) << "Text1_6"));
        QCOMPARE(c.Text1(6)->toPlainText(), QString());
        QVERIFY(c.cmdCom->isEnabled());
        QVERIFY(c.optCom2->isChecked());
        QCOMPARE(intComPort, qint16(2));
    }

    // Previous from the mode step and Next again: the frame caption is set anew.
    void previousFromModeAndBack()
    {
        open();
        walkTo(w, Step::Mode);
        c.cmdPrec->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOff);
        QCOMPARE(shownControls(w), sorted(kPowerOffStep));
        c.fraMode->setTitle(QStringLiteral("stale"));
        c.cmdOk->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrMode);
        QCOMPARE(c.fraMode->title(), QStringLiteral("Select upgrade method "));
        QCOMPARE(shownControls(w), sorted(kModeStep));
    }

    void modeChoice_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<quint8>("mode");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Upgrade") << "optUpgr" << quint8(2) << "Start upgrade process";
        QTest::newRow("Backup + Upgrade") << "optBakUp" << quint8(1) << "Start backup and upgrade process";
    }

    // The option click sets the mode at once; Next captures it and captions Start.
    void modeChoice()
    {
        QFETCH(QString, option);
        QFETCH(quint8, mode);
        QFETCH(QString, caption);
        open();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        walkTo(w, Step::Mode);
        c.optUpgr->click();
        bytMode = 7; // so that each step below must write it
        QTest::mouseClick(w.findChild<QRadioButton *>(option), Qt::LeftButton);
        QCOMPARE(bytMode, mode);
        bytMode = 7;
        c.cmdOk->click();
        QCOMPARE(bytMode, mode);
        QCOMPARE(c.cmdStart->text(), caption);
        QCOMPARE(shownControls(w), sorted(kStartStep));
    }

    // The mode options act on the user's click, not on a change made by code.
    void modeOptionsFollowClicksOnly()
    {
        open();
        walkTo(w, Step::Mode);
        bytMode = 1;
        c.optUpgr->setChecked(true);
        QCOMPARE(bytMode, quint8(1));
        c.optUpgr->click();
        QCOMPARE(bytMode, quint8(2));
    }

    // After a failed transfer (back at the mode step, both options cleared) Next
    // still advances; the mode keeps its value and Start reads "upgrade".
    void afterTransferError()
    {
        open();
        walkTo(w, Step::Start);
        QCOMPARE(bytMode, quint8(1));
        // The error ending of the transfer:
        c.Text1(0)->setPlainText(strIstrMode);
        c.cmdOk->show();
        c.cmdPrec->show();
        c.fraMode->show();
        frmIstruzioni::clearOptions({c.optBakUp, c.optUpgr});
        QVERIFY(!c.optBakUp->isChecked());
        QVERIFY(!c.optUpgr->isChecked());
        QVERIFY(c.optBakUp->autoExclusive());
        c.cmdStart->setEnabled(true);

        c.cmdOk->click();
        QCOMPARE(bytMode, quint8(1));
        QCOMPARE(c.cmdStart->text(), strStartUpgr);
        QCOMPARE(shownControls(w), sorted(kStartStep));

        // The options are still exclusive after the clear.
        c.Text1(0)->setPlainText(strIstrMode);
        c.fraMode->show();
        c.optBakUp->click();
        c.optUpgr->click();
        QVERIFY(!c.optBakUp->isChecked());
        QVERIFY(c.optUpgr->isChecked());
    }

    void noRuleNoChange_data()
    {
        QTest::addColumn<Step>("step");
        QTest::addColumn<bool>("next");
        QTest::newRow("Next at the port-test step") << Step::PortTest << true;
        QTest::newRow("Previous at the port-test step") << Step::PortTest << false;
        QTest::newRow("Next at the start step") << Step::Start << true;
        QTest::newRow("Previous at the start step") << Step::Start << false;
        QTest::newRow("Previous at the cable step") << Step::Cable << false;
    }

    // Next or Previous in a state that matches none of their rules changes nothing.
    void noRuleNoChange()
    {
        QFETCH(Step, step);
        QFETCH(bool, next);
        open();
        walkTo(w, step);
        bytMode = 0;
        const Snapshot before = snapshot(w);
        if (next)
            w.cmdOk_Click();
        else
            w.cmdPrec_Click();
        QVERIFY(snapshot(w) == before);
        // The mode capture of Next runs at every step.
        QCOMPARE(bytMode, quint8(next ? 1 : 0));
    }

    // The step is read off the window, from the controls' own visibility flags
    // (the window need not be on screen), and the instruction compared exactly.
    void stepReadOffTheWindow()
    {
        // Loaded but never shown: every control reports isVisible() false here.
        Testfile::LoadEnglish();
        w.Load();
        QVERIFY(!w.isVisible());
        c.cmdOk->click();
        portTestFindsNone(w, {1});
        w.cmdPrec_Click(); // manual-port step -> port-test step
        QVERIFY(c.FraCom->isHidden());
        QVERIFY(c.Text1(6)->isHidden());
        c.FraCom->show();
        w.cmdOk_Click(); // a shown port frame is the manual-port step
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOff);
        QVERIFY(c.FraCom->isHidden());
        QVERIFY(!c.Image4->isHidden());
        // An instruction that differs by one trailing space is not a step.
        c.Text1(0)->setPlainText(strIstrPowerOff + QLatin1Char(' '));
        const Snapshot before = snapshot(w);
        w.cmdOk_Click();
        QVERIFY(snapshot(w) == before);
    }

    void layoutFits_data()
    {
        QTest::addColumn<Loader>("loader");
        QTest::addColumn<int>("step");
        const QList<QPair<Loader, QString>> languages{{&Testfile::LoadFrench, "French"},
                                                      {&Testfile::LoadGerman, "German"},
                                                      {&Testfile::LoadEnglish, "English"},
                                                      {&Testfile::LoadItalian, "Italian"}};
        const QStringList steps{"1-cable", "2-porttest", "3-manualport", "4-poweroff",
                                "5-mode",  "6-start",    "7-transfer"};
        for (const auto &[loader, language] : languages)
            for (int i = 0; i < steps.size(); ++i)
                QTest::addRow("%s-%s", qPrintable(language), qPrintable(steps[i])) << loader << i;
    }

    // In every language at every step, the instruction wraps inside its box and
    // never runs under the button bar, and the status line's text shows whole.
    void layoutFits()
    {
        QFETCH(Loader, loader);
        QFETCH(int, step);
        open(loader);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        if (step == 6) {
            // A transfer in progress, as the procedure shows it.
            walkTo(w, Step::Start);
            c.cmdStart->hide();
            c.Text1(0)->setPlainText(strIstrPowerOn);
            c.Text1(6)->setPlainText(strUpgrActive + QStringLiteral("     (/home/service/k410/release 1.07.bio)"));
            c.ProgressBar1->setValue(37.5f);
            c.ProgressBar1->show();
            c.Label2->setText(QStringLiteral("29738 byte 37%"));
            c.Label2->show();
            c.Image5->show();
            c.Image6->show();
            c.txtError->setText(QStringLiteral("Carrier Detect Timeout"));
            c.txtError->show();
        } else {
            walkTo(w, Step(step));
            if (step == int(Step::ManualPort)) {
                frmIstruzioni::clearOptions({c.optCom2});
                c.Text1(6)->setPlainText(strNoPort);
            }
        }
        QCoreApplication::processEvents();

        QTextEdit *box = c.Text1(0);
        QWidget *form = c.fraTasti->parentWidget();
        QTextDocument *document = box->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            const QPointF origin = document->documentLayout()->blockBoundingRect(block).topLeft();
            QTextLayout *layout = block.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                const QRectF text(origin + line.position(), QSizeF(line.naturalTextWidth(), line.height()));
                const QRect inViewport = text.toAlignedRect();
                QVERIFY2(box->viewport()->rect().contains(inViewport),
                         qPrintable(QStringLiteral("line %1 leaves the instruction box").arg(i + 1)));
                const QRect inForm(box->viewport()->mapTo(form, inViewport.topLeft()), inViewport.size());
                QVERIFY2(!inForm.intersects(c.fraTasti->geometry()),
                         qPrintable(QStringLiteral("line %1 runs under the button bar").arg(i + 1)));
            }
        }
        if (!c.Text1(6)->isHidden()) {
            const QSizeF status = c.Text1(6)->document()->size();
            QVERIFY2(status.height() <= c.Text1(6)->viewport()->height(),
                     qPrintable(QStringLiteral("status line needs %1 px").arg(status.height())));
        }

        const QString shots = qEnvironmentVariable("K410_SHOTS_DIR");
        if (!shots.isEmpty()) {
            QDir().mkpath(shots);
            w.grab().save(QDir(shots).filePath(QString::fromLatin1(QTest::currentDataTag()) + ".png"));
        }
    }
};

int runNavigationTests(int argc, char **argv)
{
    TestNavigation test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_navigation.moc"

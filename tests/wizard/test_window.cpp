// The instruction window itself: what a load shows in each language, the layout
// of its controls, the key handler of the Text1 boxes, and the ways the window
// closes (Exit, Esc, close box, with and without a running operation) and loads
// again.

#include "WizardTests.h"

#include "Controls.h"
#include "DlgOpen.h"
#include "ProgressBar.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <optional>

using namespace Variabili;
using namespace wizardtest;

class TestWindow : public QObject
{
    Q_OBJECT
    frmIstruzioni &w = frmIstruzioni::instance();
    const frmIstruzioni::Controls &c = w.controls();
    FakeCommPort *port = nullptr;

    void open(Loader loader)
    {
        loader();
        w.Load();
        w.show();
    }

private slots:
    void init() { port = freshPort(w); }
    void cleanup() { forceUnload(w); }

    void initialState_data()
    {
        QTest::addColumn<Loader>("loader");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("portTest");
        QTest::newRow("French") << Loader(&Testfile::LoadFrench) << "Procédure de mise à jour Bios K410"
                                << "Test da la porte sériel";
        QTest::newRow("German") << Loader(&Testfile::LoadGerman) << "Biosneubearbeitungprozess von K410"
                                << "Reihentürtest";
        QTest::newRow("English") << Loader(&Testfile::LoadEnglish) << "Procedure to update Bios K410"
                                 << "Serial port test";
        QTest::newRow("Italian") << Loader(&Testfile::LoadItalian) << "Procedura di aggiornamento Bios K410"
                                 << "Test porta seriale";
    }

    // A load shows the cable step in the loaded language; the fixed captions stay.
    void initialState()
    {
        QFETCH(Loader, loader);
        QFETCH(QString, title);
        QFETCH(QString, portTest);
        open(loader);
        QCOMPARE(w.windowTitle(), title);
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrCable);
        QCOMPARE(c.cmdCom->text(), portTest);

        QCOMPARE(shownControls(w), sorted({"Text1_0", "fraTasti", "cmdOk", "cmdAnnulla", "Image1", "Image2",
                                           "Image3", "Image7", "Image8", "Label3", "Label4", "Label5"}));
        QCOMPARE(c.cmdOk->text(), QStringLiteral("Next"));
        QCOMPARE(c.cmdPrec->text(), QStringLiteral("Preview"));
        QCOMPARE(c.cmdAnnulla->text(), QStringLiteral("Exit"));
        QCOMPARE(c.cmdStart->text(), QStringLiteral("Start"));
        QCOMPARE(c.optCom1->text(), QStringLiteral("Com1"));
        QCOMPARE(c.optCom4->text(), QStringLiteral("Com4"));
        QCOMPARE(c.optBakUp->text(), QStringLiteral("Backup + Upgrade"));
        QCOMPARE(c.optUpgr->text(), QStringLiteral("Upgrade"));
        QCOMPARE(c.Label4->text(), QStringLiteral("DB9                 DB9/25"));
        QCOMPARE(c.FraCom->title(), QStringLiteral("strFraCom"));
        QCOMPARE(c.fraMode->title(), QStringLiteral("strFramode"));
        QCOMPARE(c.Text1(6)->toPlainText(), QStringLiteral("Attesa comandi"));
        QVERIFY(c.txtError->text().isEmpty());

        QVERIFY(c.optBakUp->isChecked());
        QVERIFY(!c.optUpgr->isChecked());
        for (QRadioButton *option : {c.optCom1, c.optCom2, c.optCom3, c.optCom4}) {
            QVERIFY(!option->isEnabled());
            QVERIFY(!option->isChecked());
        }
        QVERIFY(!c.Text1(0)->isEnabled());
        QVERIFY(c.Text1(6)->isEnabled());
        QCOMPARE(c.ProgressBar1->Value(), 0.0f);
        QVERIFY(c.dlgOpen && c.dlgOpen->FileName.isEmpty());
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(c.cmdOk));
    }

    void geometry_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Text1(0)") << "Text1_0" << "" << QRect(16, 16, 763, 216);
        QTest::newRow("Text1(6)") << "Text1_6" << "" << QRect(24, 240, 747, 48);
        QTest::newRow("FraCom") << "FraCom" << "" << QRect(296, 336, 187, 105);
        QTest::newRow("optCom3") << "optCom3" << "FraCom" << QRect(96, 32, 67, 17);
        QTest::newRow("optBakUp") << "optBakUp" << "fraMode" << QRect(24, 32, 147, 17);
        QTest::newRow("fraTasti") << "fraTasti" << "" << QRect(464, 176, 305, 53);
        QTest::newRow("cmdOk") << "cmdOk" << "fraTasti" << QRect(96, 8, 81, 41);
        QTest::newRow("cmdAnnulla") << "cmdAnnulla" << "fraTasti" << QRect(192, 8, 105, 41);
        QTest::newRow("Label4") << "Label4" << "" << QRect(224, 392, 254, 29);
        QTest::newRow("Image8") << "Image8" << "" << QRect(0, 320, 32, 32);
        QTest::newRow("Image1") << "Image1" << "" << QRect(600, 336, 170, 197);
    }

    // Positions in pixels (twips / 15), children counted from their frame.
    void geometry()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, geometry);
        open(&Testfile::LoadEnglish);
        QCOMPARE(w.size(), QSize(792, 573));
        auto *control = w.findChild<QWidget *>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
        if (!container.isEmpty())
            QCOMPARE(control->parentWidget()->objectName(), container);
        else
            QCOMPARE(control->mapTo(&w, QPoint(0, 0)), geometry.topLeft());
    }

    // The instruction box stays black on light grey although it is disabled;
    // status line yellow on teal; the layout's fonts.
    void colorsAndFonts()
    {
        open(&Testfile::LoadEnglish);
        const QPalette box = c.Text1(0)->palette();
        QCOMPARE(box.color(QPalette::Disabled, QPalette::Text), QColor(0, 0, 0));
        QCOMPARE(box.color(QPalette::Disabled, QPalette::Base), QColor(224, 224, 224));
        QCOMPARE(w.palette().color(QPalette::Window), QColor(0, 192, 192));
        QCOMPARE(c.Text1(6)->palette().color(QPalette::Text), QColor(255, 255, 0));
        QCOMPARE(c.Text1(6)->palette().color(QPalette::Base), QColor(0, 192, 192));
        QCOMPARE(c.FraCom->palette().color(QPalette::Window), QColor(255, 224, 192));
        QCOMPARE(c.fraTasti->palette().color(QPalette::Window), QColor(0, 0, 192));

        QCOMPARE(c.Text1(0)->font().families().value(0), QStringLiteral("Tahoma"));
        QCOMPARE(c.Text1(0)->font().pointSizeF(), 18.0);
        QVERIFY(c.Text1(0)->font().bold());
        QCOMPARE(c.Text1(6)->font().pointSizeF(), 14.25);
        QCOMPARE(c.cmdOk->font().families().value(0), QStringLiteral("MS Sans Serif"));
        QCOMPARE(c.cmdOk->font().pointSizeF(), 8.25);
        QCOMPARE(c.Label2->font().families().value(0), QStringLiteral("Comic Sans MS"));

        // The disabled instruction box really paints black text on grey.
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        c.Text1(0)->setPlainText(QStringLiteral("MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"));
        const QImage shot = c.Text1(0)->grab().toImage();
        bool black = false;
        bool grey = false;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 300; ++x) {
                const QColor pixel = shot.pixelColor(x, y);
                black |= pixel.red() < 40 && pixel.green() < 40 && pixel.blue() < 40;
                grey |= pixel == QColor(224, 224, 224);
            }
        QVERIFY(black);
        QVERIFY(grey);
    }

    // Tab moves through the focusable controls in the order of their tab indexes.
    void tabOrder()
    {
        open(&Testfile::LoadEnglish);
        const QStringList expected{"cmdOk", "cmdPrec", "Text1_0", "optUpgr", "optBakUp", "Text1_6", "txtError",
                                   "optCom1", "optCom2", "optCom3", "optCom4", "cmdCom", "cmdAnnulla", "cmdStart"};
        QStringList seen;
        QWidget *widget = c.cmdOk;
        for (int i = 0; i < 200 && seen.size() < expected.size(); ++i) {
            if (expected.contains(widget->objectName()) && !seen.contains(widget->objectName()))
                seen << widget->objectName();
            widget = widget->nextInFocusChain();
        }
        QCOMPARE(seen, expected);
    }

    void enterOnFocusedButton_data()
    {
        QTest::addColumn<QString>("focused");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("clicked");
        QTest::newRow("Return on Next") << "cmdOk" << int(Qt::Key_Return) << 0 << false << "cmdOk";
        QTest::newRow("keypad Enter on Exit") << "cmdAnnulla" << int(Qt::Key_Enter) << int(Qt::KeypadModifier)
                                              << false << "cmdAnnulla";
        QTest::newRow("Return on the port test") << "cmdCom" << int(Qt::Key_Return) << 0 << false << "cmdCom";
        QTest::newRow("Ctrl+Return on Next") << "cmdOk" << int(Qt::Key_Return) << int(Qt::ControlModifier) << false
                                             << "";
        QTest::newRow("Return held on Next") << "cmdOk" << int(Qt::Key_Return) << 0 << true << "";
        QTest::newRow("Return on a mode option") << "optBakUp" << int(Qt::Key_Return) << 0 << false << "";
        QTest::newRow("Return in the status line") << "Text1_6" << int(Qt::Key_Return) << 0 << false << "";
    }

    // Return and Enter act on the focused command button as Space does; the
    // window has no default button, so anywhere else they click nothing.
    void enterOnFocusedButton()
    {
        QFETCH(QString, focused);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, held);
        QFETCH(QString, clicked);
        for (qint16 p = 1; p <= 4; ++p)
            port->failOpen(p); // a port test clicked here ends at once
        open(&Testfile::LoadEnglish);
        for (QWidget *control : {static_cast<QWidget *>(c.cmdCom), static_cast<QWidget *>(c.fraMode),
                                 static_cast<QWidget *>(c.Text1(6))})
            control->show();
        QStringList seen;
        for (QAbstractButton *button : w.findChildren<QAbstractButton *>()) {
            if (auto *push = qobject_cast<QPushButton *>(button))
                QVERIFY(!push->isDefault() && !push->autoDefault());
            connect(button, &QAbstractButton::clicked, button, [&seen, button] { seen << button->objectName(); });
        }
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QWidget *target = w.findChild<QWidget *>(focused);
        target->setFocus();
        QCOMPARE(QApplication::focusWidget(), target);

        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), QString(), held);
        QApplication::sendEvent(target, &press);
        QCOMPARE(seen, clicked.isEmpty() ? QStringList() : QStringList{clicked});
    }

    void keyDown_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("stops");
        QTest::newRow("Shift alone in the status line") << "Text1_6" << int(Qt::Key_Shift) << true;
        QTest::newRow("Ctrl alone in the status line") << "Text1_6" << int(Qt::Key_Control) << true;
        QTest::newRow("letter in the status line") << "Text1_6" << int(Qt::Key_Q) << true;
        QTest::newRow("Shift on Next") << "cmdOk" << int(Qt::Key_Shift) << false;
        QTest::newRow("letter in the error box") << "txtError" << int(Qt::Key_Q) << false;
        QTest::newRow("Shift on the mode option") << "optBakUp" << int(Qt::Key_Shift) << false;
    }

    // A key pressed in the status line (the focused Text1 member) raises the stop
    // request; a key pressed anywhere else does not.
    void keyDown()
    {
        QFETCH(QString, target);
        QFETCH(int, key);
        QFETCH(bool, stops);
        open(&Testfile::LoadEnglish);
        c.Text1(6)->show();
        c.txtError->show();
        c.fraMode->show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *widget = w.findChild<QWidget *>(target);
        widget->setFocus();
        QCOMPARE(QApplication::focusWidget(), widget);
        QTest::keyClick(static_cast<QWidget *>(nullptr), Qt::Key(key)); // to the focus widget
        QCOMPARE(strFerma, stops ? QStringLiteral("ferma") : QString());
    }

    // The key is not consumed: the status line still takes the typed text.
    void keyReachesTheBox()
    {
        open(&Testfile::LoadEnglish);
        c.Text1(6)->show();
        c.Text1(6)->clear();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        c.Text1(6)->setFocus();
        QTest::keyClicks(static_cast<QWidget *>(nullptr), QStringLiteral("ok"));
        QCOMPARE(c.Text1(6)->toPlainText(), QStringLiteral("ok"));
        QCOMPARE(strFerma, QStringLiteral("ferma"));
    }

    void errorBoxElides_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("elided");
        QTest::newRow("short") << "Carrier Detect Timeout" << false;
        QTest::newRow("long") << "The saved backup \"/home/technician/backups/2024/k410-line-3.bak\" differs from "
                                 "the backup read from the unit. The backup read from the unit is kept in the "
                                 "working file." << true;
    }

    // The one-line error box shows a long text cut visibly ("…" at the end),
    // painted as the line edit paints a text that fits; text() and the tooltip
    // hold the whole text, and a narrower box shows less.
    void errorBoxElides()
    {
        QFETCH(QString, text);
        QFETCH(bool, elided);
        open(&Testfile::LoadEnglish);
        auto *box = qobject_cast<ErrorBox *>(c.txtError);
        QVERIFY(box);
        box->show();
        box->setText(text);
        QCOMPARE(box->text(), text);
        QCOMPARE(box->toolTip(), text);

        const QString shown = box->shownText();
        QCOMPARE(shown.endsWith(QChar(0x2026)), elided);
        QVERIFY(text.startsWith(elided ? shown.chopped(1) : shown));
        QCOMPARE(shown.size() < text.size(), elided);

        QLineEdit plain(box->parentWidget());
        plain.setGeometry(box->geometry());
        plain.setFrame(false);
        plain.setFont(box->font());
        plain.setPalette(box->palette());
        plain.setText(shown);
        plain.setCursorPosition(0);
        QCOMPARE(box->grab().toImage(), plain.grab().toImage());

        box->resize(100, box->height());
        QVERIFY(box->shownText().size() < text.size());
        QVERIFY(box->shownText().endsWith(QChar(0x2026)));
    }

    // Exit with the port closed unloads the window: its controls are destroyed and
    // the next load shows the cable step in the then-current language.
    void exitUnloadsAndReloads()
    {
        open(&Testfile::LoadEnglish);
        walkTo(w, Step::Mode);
        c.optUpgr->click();
        c.FraCom->setTitle(QStringLiteral("changed"));
        c.dlgOpen->FileName = QStringLiteral("/tmp/last.bak");
        QPointer<QWidget> oldNext = c.cmdOk;
        QVERIFY(w.isVisible());

        c.cmdAnnulla->click();
        QVERIFY(!w.isLoaded());
        QVERIFY(!w.isVisible());
        QVERIFY(!c.cmdOk);
        QVERIFY(!c.Text1(0));
        QVERIFY(!w.findChild<QWidget *>(QStringLiteral("cmdOk")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(oldNext.isNull());
        // The program-wide values survive the window.
        QCOMPARE(bytMode, quint8(2));
        QCOMPARE(intComPort, qint16(2));

        open(&Testfile::LoadGerman);
        QCOMPARE(w.windowTitle(), QStringLiteral("Biosneubearbeitungprozess von K410"));
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrCable);
        QCOMPARE(c.cmdCom->text(), QStringLiteral("Reihentürtest"));
        QCOMPARE(shownControls(w), sorted({"Text1_0", "fraTasti", "cmdOk", "cmdAnnulla", "Image1", "Image2",
                                           "Image3", "Image7", "Image8", "Label3", "Label4", "Label5"}));
        QVERIFY(c.optBakUp->isChecked());
        QVERIFY(!c.optUpgr->isChecked());
        QCOMPARE(c.FraCom->title(), QStringLiteral("strFraCom"));
        QCOMPARE(c.Text1(6)->toPlainText(), QStringLiteral("Attesa comandi"));
        QVERIFY(c.dlgOpen->FileName.isEmpty());
        QCOMPARE(w.findChildren<QWidget *>(QStringLiteral("cmdOk")).size(), 1);
        // The handlers are connected once to the new controls.
        c.cmdOk->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrTest);
    }

    // Exit while the port is open only raises the stop request.
    void exitWithPortOpen()
    {
        open(&Testfile::LoadEnglish);
        port->reportPortOpen(true);
        c.cmdAnnulla->click();
        QCOMPARE(strFerma, QStringLiteral("ferma"));
        QVERIFY(w.isLoaded());
        QVERIFY(w.isVisible());
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrCable);
    }

    void escapeIsExit_data()
    {
        QTest::addColumn<bool>("portOpen");
        QTest::newRow("port closed") << false;
        QTest::newRow("port open") << true;
    }

    // Esc does exactly what a click on Exit does.
    void escapeIsExit()
    {
        QFETCH(bool, portOpen);
        open(&Testfile::LoadEnglish);
        port->reportPortOpen(portOpen);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Escape);
        QCOMPARE(w.isLoaded(), portOpen);
        QCOMPARE(w.isVisible(), portOpen);
        QCOMPARE(strFerma, portOpen ? QStringLiteral("ferma") : QString());
    }

    // ShowModal loads and blocks until Exit unloads; the next ShowModal loads afresh.
    void showModalCycle()
    {
        Testfile::LoadItalian();
        QString seenTitle;
        QTimer::singleShot(0, &w, [&] {
            seenTitle = w.windowTitle();
            c.cmdAnnulla->click();
        });
        w.ShowModal();
        QCOMPARE(seenTitle, QStringLiteral("Procedura di aggiornamento Bios K410"));
        QVERIFY(!w.isLoaded());
        QVERIFY(!w.isVisible());

        // Ended from outside without Exit: still unloaded, the next show is fresh.
        Testfile::LoadFrench();
        QString seenInstruction;
        QTimer::singleShot(0, &w, [&] {
            seenInstruction = c.Text1(0)->toPlainText();
            c.cmdOk->click();
            w.done(0);
        });
        w.ShowModal();
        QCOMPARE(seenInstruction, strIstrCable);
        QVERIFY(!w.isLoaded());
        Testfile::LoadGerman();
        QTimer::singleShot(0, &w, [&] {
            seenInstruction = c.Text1(0)->toPlainText();
            c.cmdAnnulla->click();
        });
        w.ShowModal();
        QCOMPARE(seenInstruction, strIstrCable);
    }

    void closeBox_data()
    {
        QTest::addColumn<bool>("operation");
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<bool>("closesAtOnce");
        QTest::addColumn<bool>("closesWhenOperationEnds");
        QTest::newRow("idle, port closed") << false << false << true << true;
        QTest::newRow("idle, port open") << false << true << false << false;
        QTest::newRow("transfer running, port open") << true << true << false << false;
        QTest::newRow("operation between two opens") << true << false << false << true;
    }

    // The close box is Exit. While the port is open it only raises the stop
    // request: the window stays to show how the run ended, and the next close,
    // with the port closed, closes it. An unload asked for while an operation
    // has the port closed waits for the operation's end.
    void closeBox()
    {
        QFETCH(bool, operation);
        QFETCH(bool, portOpen);
        QFETCH(bool, closesAtOnce);
        QFETCH(bool, closesWhenOperationEnds);
        open(&Testfile::LoadEnglish);
        std::optional<frmIstruzioni::OperationScope> scope;
        if (operation)
            scope.emplace(w);
        port->reportPortOpen(portOpen);
        QCOMPARE(w.close(), closesAtOnce);
        QCOMPARE(w.isLoaded(), !closesAtOnce);
        QCOMPARE(strFerma, closesAtOnce ? QString() : QStringLiteral("ferma"));
        QCOMPARE(w.closePending(), operation && !portOpen);

        // The operation honours the stop request and closes the port, as its endings do.
        port->reportPortOpen(false);
        if (!closesAtOnce && !w.closePending())
            strFerma.clear();
        scope.reset();
        QCOMPARE(w.isLoaded(), !closesWhenOperationEnds);
        QVERIFY(strFerma.isEmpty());
        if (w.isLoaded()) {
            QCOMPARE(c.Text1(0)->toPlainText(), strIstrCable); // nothing else changed
            QVERIFY(w.close());
        }
        QVERIFY(!w.isLoaded());
    }

    // Exit finding the port closed in the middle of an operation does not pull
    // the controls away from under it: the unload waits for the operation's end.
    void exitDuringOperationWaits()
    {
        open(&Testfile::LoadEnglish);
        {
            frmIstruzioni::OperationScope outer(w);
            {
                frmIstruzioni::OperationScope inner(w);
                c.cmdAnnulla->click();
            }
            QVERIFY(w.isLoaded());
            QVERIFY(c.cmdOk);
            QCOMPARE(strFerma, QStringLiteral("ferma"));
        }
        QVERIFY(!w.isLoaded());
    }
};

int runWindowTests(int argc, char **argv)
{
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window.moc"

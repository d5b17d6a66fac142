#include "E2e.h"

#include "DlgOpen.h"
#include "ProgressBar.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

using namespace Variabili;

namespace e2e {

frmIstruzioni &freshWindow(std::unique_ptr<CommControl> control, void (*loader)())
{
    unloadWindow();
    frmIstruzioni &w = frmIstruzioni::instance();
    DlgOpen::setAnswerer({});
    w.setCommControl(std::move(control));
    w.setProbeTiming(fastProbe());
    (loader ? loader : &Testfile::LoadEnglish)();
    strFerma.clear();
    bytMode = 0;
    intComPort = 0;
    w.Load();
    return w;
}

void unloadWindow()
{
    frmIstruzioni &w = frmIstruzioni::instance();
    DlgOpen::setAnswerer({});
    if (w.isLoaded() && w.MSComm1 && w.MSComm1->PortOpen())
        w.MSComm1->setPortOpen(false);
    w.hide();
    w.Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void walkToStart(frmIstruzioni &w, bool backup)
{
    w.cmdOk->click();
    w.cmdCom->click();
    if (w.Text1(0)->toPlainText() != strIstrPowerOff)
        return;
    w.cmdOk->click();
    (backup ? w.optBakUp : w.optUpgr)->click();
    w.cmdOk->click();
}

bool atStartStep(frmIstruzioni &w)
{
    return w.Text1(0)->toPlainText() == strIstrStart && !w.cmdStart->isHidden() && w.cmdStart->isEnabled();
}

void checkNormalEnding(frmIstruzioni &w, const QString &status)
{
    QCOMPARE(w.Text1(6)->toPlainText(), status);
    QCOMPARE(w.Text1(0)->toPlainText(), strIstrPowerOn);
    QVERIFY(!w.MSComm1->PortOpen());
    QVERIFY(w.ProgressBar1->isHidden());
    QCOMPARE(w.ProgressBar1->Value(), 0.0f);
    QVERIFY(w.Label2->isHidden());
    QVERIFY(w.Image5->isHidden());
    QVERIFY(w.Image6->isHidden());
    QVERIFY(w.cmdStart->isHidden());
    QVERIFY(!w.cmdStart->isEnabled());
    QVERIFY(w.cmdOk->isHidden());
    QVERIFY(w.cmdPrec->isHidden());
    QVERIFY(w.fraMode->isHidden());
    QVERIFY(!w.cmdAnnulla->isHidden());
    QCOMPARE(bytMode, quint8(0));
    QVERIFY(strFerma.isEmpty());
}

StatusLog::StatusLog(QTextEdit *statusLine)
{
    m_connection = QObject::connect(statusLine, &QTextEdit::textChanged, [this, statusLine] {
        const QString text = statusLine->toPlainText();
        if (m_texts.isEmpty() || m_texts.last() != text)
            m_texts << text;
    });
}

StatusLog::~StatusLog()
{
    QObject::disconnect(m_connection);
}

QStringList StatusLog::after(const QString &text) const
{
    const qsizetype at = m_texts.indexOf(text);
    return at < 0 ? QStringList() : m_texts.mid(at + 1);
}

} // namespace e2e

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

void walkToStart(frmIstruzioni &w, bool backup)
{
    const frmIstruzioni::Controls &c = w.controls();
    c.cmdOk->click();
    c.cmdCom->click();
    if (c.Text1(0)->toPlainText() != strIstrPowerOff)
        return;
    c.cmdOk->click();
    (backup ? c.optBakUp : c.optUpgr)->click();
    c.cmdOk->click();
}

bool atStartStep(frmIstruzioni &w)
{
    const frmIstruzioni::Controls &c = w.controls();
    return c.Text1(0)->toPlainText() == strIstrStart && !c.cmdStart->isHidden() && c.cmdStart->isEnabled();
}

void checkNormalEnding(frmIstruzioni &w, const QString &status)
{
    const frmIstruzioni::Controls &c = w.controls();
    QCOMPARE(c.Text1(6)->toPlainText(), status);
    QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOn);
    QVERIFY(!w.MSComm1().PortOpen());
    QVERIFY(c.ProgressBar1->isHidden());
    QCOMPARE(c.ProgressBar1->Value(), 0.0f);
    QVERIFY(c.Label2->isHidden());
    QVERIFY(c.Image5->isHidden());
    QVERIFY(c.Image6->isHidden());
    QVERIFY(c.cmdStart->isHidden());
    QVERIFY(!c.cmdStart->isEnabled());
    QVERIFY(c.cmdOk->isHidden());
    QVERIFY(c.cmdPrec->isHidden());
    QVERIFY(c.fraMode->isHidden());
    QVERIFY(!c.cmdAnnulla->isHidden());
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

#include "E2e.h"

#include "CommControl.h"
#include "DlgOpen.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QCoreApplication>
#include <QFile>

namespace e2e {

void mapPorts(const QStringList &devices)
{
    const char *names[] = {"K410_COM1", "K410_COM2", "K410_COM3", "K410_COM4"};
    for (int i = 0; i < 4; ++i)
        qputenv(names[i], QFile::encodeName(devices.value(i)));
}

frmIstruzioni &freshWindow()
{
    unloadWindow();
    frmIstruzioni &w = frmIstruzioni::instance();
    DlgOpen::setAnswerer({});
    w.setCommControl(nullptr); // a new real control
    w.setProbeTiming(fastProbe());
    Testfile::LoadEnglish();
    Variabili::strFerma.clear();
    Variabili::bytMode = 0;
    Variabili::intComPort = 0;
    w.Load();
    return w;
}

void unloadWindow()
{
    frmIstruzioni &w = frmIstruzioni::instance();
    DlgOpen::setAnswerer({});
    if (w.MSComm1 && w.MSComm1->PortOpen())
        w.MSComm1->setPortOpen(false);
    w.hide();
    w.Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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

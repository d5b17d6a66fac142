#include "CommEvents.h"
#include "CommControl.h"
#include "Texts.h"
#include "Variabili.h"

namespace CommEvents {

bool isIgnored(int code)
{
    return code >= comEvSend && code <= comEvEOF;
}

QString eventText(int code)
{
    if (isIgnored(code))
        return QString();
    switch (code) {
    case comEventBreak: return QStringLiteral("Break error");
    case comEventCTSTO: return QStringLiteral("CTS Timeout");
    case comEventDSRTO: return QStringLiteral("DSR Timeout");
    case comEventFrame: return QStringLiteral("Framing error");
    case comEventOverrun: return QStringLiteral("Overrun Error");
    case comEventCDTO: return QStringLiteral("Carrier Detect Timeout");
    case comEventRxOver: return QStringLiteral("Receive Buffer Overflow");
    case comEventRxParity: return QStringLiteral("Parity Error");
    case comEventTxFull: return QStringLiteral("Transmit Buffer Full");
    case comEventDCB: return QStringLiteral("Error retrieving DCB");
    case comEventDeviceLost: return Texts::text(Texts::Key::DeviceLostEvent);
    default: return QStringLiteral("Unknown error or event");
    }
}

} // namespace CommEvents

void CommEventView::raiseStop()
{
    Variabili::strFerma = Variabili::kFerma;
}

namespace {
int g_lineErrors = 0;
} // namespace

int CommEvents::lineErrorsSeen()
{
    return g_lineErrors;
}

void handleCommEvent(qint16 CommEvent, CommEventView &view)
{
    if (CommEvents::isIgnored(CommEvent))
        return;
    ++g_lineErrors;
    const QString text = CommEvents::eventText(CommEvent);
    if (!view.progressBarVisible())
        return;
    view.showErrorBox();
    view.setErrorText(text);
    view.raiseStop();
}

void MSComm1_OnComm(const CommControl &MSComm1, CommEventView &view)
{
    handleCommEvent(MSComm1.CommEvent(), view);
}

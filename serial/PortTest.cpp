#include "PortTest.h"
#include "CommControl.h"
#include "ErrorNumbers.h"
#include "EventPump.h"
#include "LineSettings.h"
#include "RunTimeError.h"
#include "Trace.h"
#include "Variabili.h"

#include <cmath>

const char *const kProbeSettings[kProbeSettingCount] = {
    "110,N,8,1", "300,N,8,1", "600,N,8,1", "1200,N,8,1", "2400,N,8,1", "4800,N,8,1", "9600,N,8,1", "19200,N,8,1",
};

void PortTestView::portUnavailable(int, PortFault, const QString &) {}

std::chrono::nanoseconds probeWaitTotal(int baud, const ProbeTiming &timing)
{
    const double lineSeconds = double(kProbeLineChars * kBitsPerChar) / double(qMax(1, baud)) * timing.lineTimeScale;
    return timing.margin + std::chrono::nanoseconds(std::llround(lineSeconds * 1e9));
}

namespace {

PortTestView::PortFault faultOf(const RunTimeError &e)
{
    switch (e.number()) {
    case kErrInvalidPortNumber: return PortTestView::PortFault::Absent;
    case kErrPortAlreadyOpen: return PortTestView::PortFault::InUse;
    case kErrPermissionDenied: return PortTestView::PortFault::PermissionDenied;
    default: return PortTestView::PortFault::Other;
    }
}

} // namespace

PortTestEnding runPortTest(CommControl &MSComm1, EventPump &pump, PortTestView &view, const ProbeTiming &timing)
{
    using Variabili::stopRequested;
    using Clock = EventPump::Clock;

    quint8 bytCom = 0;
    if (Trace::enabled())
        Trace::line(QStringLiteral("START port test"));
    view.setComButtonEnabled(false);
    const QByteArray strProbe(1, kProbeByte);
    quint8 bytComOpen[kPortTestPorts + 1] = {}; // index 1..4
    qint16 intWait = 0;
    bool answered = false;
    bool stopped = false;

    for (;;) {
        // Next port.
        bytCom = bytCom + 1;
        if (bytCom == kPortTestPorts + 1)
            break;
        bool openedHere = false;
        try {
            MSComm1.setCommPort(bytCom);
            if (stopRequested())
                break;
            intWait = 0;
            if (MSComm1.PortOpen())
                continue; // held by someone else in this program: skip it
            for (int s = 0; s < kProbeSettingCount; ++s) {
                intWait = 0;
                const QString setting = QString::fromLatin1(kProbeSettings[s]);
                MSComm1.setSettings(setting);
                if (s == 0)
                    view.setStatusLineVisible(true);
                view.setStatusText(QStringLiteral("Test com ") + QString::number(bytCom)
                                   + QStringLiteral(" Setting ") + MSComm1.Settings());
                MSComm1.setPortOpen(true);
                openedHere = true;
                if (s == 0)
                    bytComOpen[bytCom] = 1;
                MSComm1.setOutput(strProbe);

                // Pass i waits until t0 + i/10000 of the whole wait, so the
                // slack of one pass does not add up over the next ones. The
                // pump runs the passes in which nothing arrives and nobody
                // acts as one sleep, and says which pass was running when
                // something did; the count is read after it as after every pass.
                const Clock::time_point t0 = Clock::now();
                const std::chrono::nanoseconds total = probeWaitTotal(LineSettings::parse(setting).baud, timing);
                const EventPump::PassDeadlines passEnd = [t0, total](int pass) {
                    return t0 + std::chrono::duration_cast<Clock::duration>(total * pass / kProbePasses);
                };
                int count = 0;
                do {
                    intWait = qint16(pump.DoEventsPasses(intWait + 1, kProbePasses, passEnd));
                    count = MSComm1.InBufferCount();
                } while (!(intWait == kProbePasses || count == kProbeAnswerLength));

                if (MSComm1.InBufferCount() == kProbeAnswerLength) {
                    (void)MSComm1.Input(); // content is not examined
                    answered = true;
                    break;
                }
                MSComm1.setPortOpen(false);
                openedHere = false;
                if (s == kProbeSettingCount - 1)
                    break; // next port
                if (stopRequested()) {
                    stopped = true;
                    break;
                }
            }
            if (answered || stopped)
                break;
        } catch (const RunTimeError &e) {
            // This port is not available; the next one is tried. A port this
            // test opened is closed first, or every later port would fail.
            if (openedHere)
                closePortQuietly(MSComm1);
            view.portUnavailable(bytCom, faultOf(e), e.description());
        }
    }

    // End of the test.
    if (stopRequested()) {
        if (Trace::enabled())
            Trace::line(QStringLiteral("END port test stopped"));
        closePortQuietly(MSComm1);
        Variabili::strFerma.clear();
        view.setComButtonEnabled(true);
        return PortTestEnding::Stopped;
    }
    if (bytCom == kPortTestPorts + 1) {
        if (Trace::enabled())
            Trace::line(QStringLiteral("END port test no port"));
        view.setStatusText(Variabili::strNoPort);
        view.setComButtonVisible(false);
        view.setPreviousVisible(true);
        view.setPortFrameCaption(Variabili::strFraCom);
        view.setPortFrameVisible(true);
        for (int port = 1; port <= kPortTestPorts; ++port) {
            if (bytComOpen[port] == 1)
                view.setPortOptionEnabled(port, true);
        }
        return PortTestEnding::NoPort;
    }
    if (Trace::enabled())
        Trace::line(QStringLiteral("END port test found COM%1").arg(bytCom));
    closePortQuietly(MSComm1);
    Variabili::intComPort = bytCom;
    view.setStatusText(Variabili::strConnected + QString::number(bytCom));
    view.setPortFrameVisible(false);
    view.setComButtonVisible(false);
    view.setNextVisible(true);
    view.setPreviousVisible(true);
    view.setPowerAdapterVisible(true);
    view.setInstruction(Variabili::strIstrPowerOff);
    return PortTestEnding::Found;
}

#pragma once
// The port test behind the window's cmdCom button: COM1 to COM4, each at the
// eight probe settings from 110 to 19200 baud; on each a freshly opened port
// is sent the byte 0x02 and exactly 30 bytes are awaited. The first port that
// answers becomes intComPort and the wizard moves to the power-off step; with
// no answer it moves to the manual-port step, offering the ports that could be
// opened; a stop request (strFerma) ends it where it stands.
//
// The wait for an answer keeps its 10000 passes of the event pump, but each
// pass waits until its share of a fixed duration: the line time of the probe
// and its answer (32 characters of 10 bits) plus a margin, so slow settings
// get the time their answer needs whatever the speed of the PC. Passes in
// which nothing happens are counted, not woken for (EventPump::DoEventsPasses),
// so a silent port costs next to no CPU.

#include <QString>
#include <chrono>

class CommControl;
class EventPump;

/// What the port test does to the instruction window.
class PortTestView
{
public:
    /// Why a port could not be used.
    enum class PortFault {
        Absent,           ///< no device for this number (8002)
        InUse,            ///< held by another program (8005)
        PermissionDenied, ///< this user may not open it (8010)
        Other,            ///< any other run-time error (settings refused, device lost...)
    };

    virtual ~PortTestView() = default;
    virtual void setComButtonEnabled(bool enabled) = 0;   ///< cmdCom.Enabled
    virtual void setComButtonVisible(bool visible) = 0;   ///< cmdCom.Visible
    virtual void setStatusLineVisible(bool visible) = 0;  ///< Text1(6).Visible
    virtual void setStatusText(const QString &text) = 0;  ///< Text1(6).Text
    virtual void setNextVisible(bool visible) = 0;        ///< cmdOk.Visible
    virtual void setPreviousVisible(bool visible) = 0;    ///< cmdPrec.Visible
    virtual void setPortFrameCaption(const QString &caption) = 0; ///< FraCom.Caption
    virtual void setPortFrameVisible(bool visible) = 0;   ///< FraCom.Visible
    virtual void setPortOptionEnabled(int port, bool enabled) = 0; ///< optComN.Enabled
    virtual void setInstruction(const QString &text) = 0; ///< Text1(0).Text
    virtual void setPowerAdapterVisible(bool visible) = 0; ///< Image4.Visible
    /// A run-time error ended the test of `port` (for a tooltip on its
    /// option); `description` is the error's text. Does nothing by default.
    virtual void portUnavailable(int port, PortFault fault, const QString &description);
};

/// Sizing of the probe wait.
struct ProbeTiming
{
    /// Fixed allowance on top of the line time.
    std::chrono::nanoseconds margin = std::chrono::milliseconds(100);
    /// Scale of the line time: 1 = the real line time (tests shrink it).
    double lineTimeScale = 1.0;
};

/// Characters of line time the wait allows for: the probe and its 30-byte
/// answer, rounded up to 32, at 10 bits each.
constexpr int kProbeLineChars = 32;
constexpr int kBitsPerChar = 10;
/// Passes of the event pump per probe.
constexpr int kProbePasses = 10000;
/// Bytes of a valid answer.
constexpr int kProbeAnswerLength = 30;
/// The probe byte.
constexpr char kProbeByte = 0x02;

/// Ports tried, 1 to kPortTestPorts.
constexpr int kPortTestPorts = 4;

/// The probe settings in the order they are tried.
constexpr int kProbeSettingCount = 8;
extern const char *const kProbeSettings[kProbeSettingCount];

/// Whole duration of the probe wait at `baud`.
std::chrono::nanoseconds probeWaitTotal(int baud, const ProbeTiming &timing = {});

/// How a port test ended.
enum class PortTestEnding { Stopped, NoPort, Found };

/// cmdCom_Click's algorithm. Catches only RunTimeError, per port.
PortTestEnding runPortTest(CommControl &MSComm1, EventPump &pump, PortTestView &view,
                           const ProbeTiming &timing = {});

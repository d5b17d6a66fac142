#pragma once
// The serial control's OnComm event codes, their fixed texts, and the
// window's MSComm1_OnComm algorithm over a small view interface: while a
// transfer runs (progress bar visible) a line error is shown in the error
// box and raises the stop request; line-state changes are ignored.

#include <QString>
#include <QtGlobal>

class CommControl;

namespace CommEvents {

// Line-state changes (ignored by the handler).
constexpr qint16 comEvSend = 1;    ///< send buffer fell below the send threshold
constexpr qint16 comEvReceive = 2; ///< receive buffer reached the receive threshold
constexpr qint16 comEvCTS = 3;     ///< CTS line changed
constexpr qint16 comEvDSR = 4;     ///< DSR line changed
constexpr qint16 comEvCD = 5;      ///< carrier-detect line changed
constexpr qint16 comEvRing = 6;    ///< ring detected
constexpr qint16 comEvEOF = 7;     ///< end-of-file character received

// Errors.
constexpr qint16 comEventBreak = 1001;     ///< break signal received
constexpr qint16 comEventCTSTO = 1002;     ///< CTS timeout while sending
constexpr qint16 comEventDSRTO = 1003;     ///< DSR timeout while sending
constexpr qint16 comEventFrame = 1004;     ///< framing error
constexpr qint16 comEventOverrun = 1006;   ///< receive overrun, a character was lost
constexpr qint16 comEventCDTO = 1007;      ///< carrier-detect timeout while sending
constexpr qint16 comEventRxOver = 1008;    ///< receive buffer overflow
constexpr qint16 comEventRxParity = 1009;  ///< parity error
constexpr qint16 comEventTxFull = 1010;    ///< transmit buffer full
constexpr qint16 comEventDCB = 1011;       ///< reading the device control block failed
/// The device went away (adapter unplugged, far end of a pseudo-terminal
/// closed). Outside the line-state codes, so it stops a running transfer; its
/// text says what happened in plain words.
constexpr qint16 comEventDeviceLost = 1100;

/// True for the line-state codes 1 to 7, which the handler ignores.
bool isIgnored(int code);

/// The error box text for `code`: the fixed English text of the table, the
/// lost device's own text, "Unknown error or event" for any other value (1005
/// included), and an empty string for the ignored codes 1 to 7.
QString eventText(int code);

/// Line errors (every code but the ignored ones) the handler has seen since
/// the program started, whether or not a transfer was running: the run
/// record counts those of one run as a difference.
int lineErrorsSeen();

} // namespace CommEvents

/// What MSComm1_OnComm needs of the instruction window.
class CommEventView
{
public:
    virtual ~CommEventView() = default;
    /// ProgressBar1 visible: a transfer is running.
    virtual bool progressBarVisible() const = 0;
    /// txtError made visible.
    virtual void showErrorBox() = 0;
    /// txtError text.
    virtual void setErrorText(const QString &text) = 0;
    /// Raise the stop request; by default strFerma = "ferma".
    virtual void raiseStop();
};

/// The handler's algorithm for one event with code `CommEvent`.
void handleCommEvent(qint16 CommEvent, CommEventView &view);

/// MSComm1_OnComm: reads MSComm1.CommEvent once and handles it.
void MSComm1_OnComm(const CommControl &MSComm1, CommEventView &view);

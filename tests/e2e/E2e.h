#pragma once
// End-to-end suite: the instruction window with the real serial-port control and
// event pump, over pseudo-terminals owned by simulated units (k410-sim). Shared
// helpers below.

#include "CommControl.h"
#include "SimUnit.h"
#include "TestUtil.h"
#include "frmIstruzioni.h"

#include <QStringList>
#include <QTextEdit>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

int runPortTestTests(int argc, char **argv);
int runTransferTests(int argc, char **argv);

namespace e2e {

/// Probe waits short enough for a quick suite, long enough for a busy machine
/// (an unpaced simulator answers at once).
inline ProbeTiming fastProbe()
{
    using namespace std::chrono_literals;
    return ProbeTiming{150ms, 0.02};
}

/// K410_COM1..4 from `devices` (a missing or empty entry: no device for that port).
void mapPorts(const QStringList &devices);

/// The window freshly loaded at the cable step in English, with a real MSComm1,
/// no dialog answerer and nothing pending.
frmIstruzioni &freshWindow();
/// Closes the port if left open and unloads the window.
void unloadWindow();

/// Every text the status line showed, consecutive repeats folded.
class StatusLog
{
public:
    explicit StatusLog(QTextEdit *statusLine);
    ~StatusLog();
    const QStringList &texts() const { return m_texts; }
    /// Texts shown after the first occurrence of `text` (empty when it never showed).
    QStringList after(const QString &text) const;

private:
    QMetaObject::Connection m_connection;
    QStringList m_texts;
};

using testutil::readAll;
using testutil::when;
using testutil::writeAll;

} // namespace e2e

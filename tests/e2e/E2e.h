#pragma once
// The window driven end to end: the instruction window with the real event
// pump and a real serial-port control, over pseudo-terminals owned by
// simulated units (SimUnit). Shared by the end-to-end suite and the
// interrupt-at-every-record matrix.

#include "CommControl.h"
#include "FreshWindow.h"
#include "PtyPeer.h"
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
int runLinkTests(int argc, char **argv);

namespace e2e {

/// The window freshly loaded at the cable step in the language of `loader`
/// (English when null), with `control` as MSComm1 (a new real control when
/// null) and the patient probe wait (see patientProbe()).
inline frmIstruzioni &freshWindow(std::unique_ptr<CommControl> control = nullptr, void (*loader)() = nullptr)
{
    return testwindow::freshWindow(std::move(control), loader, testutil::patientProbe());
}
using testwindow::unloadWindow;
/// From the cable step: Next, the port test; if it found the unit, Next, the
/// mode (Backup + Upgrade or Upgrade) and Next to the start step.
void walkToStart(frmIstruzioni &w, bool backup);
/// At the start step, with Start shown and enabled.
bool atStartStep(frmIstruzioni &w);
/// The normal ending: `status` shown, port closed, progress display and
/// pictures hidden, only Exit left, the stop request cleared.
void checkNormalEnding(frmIstruzioni &w, const QString &status);

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

using testutil::mapPorts;
using testutil::patientProbe;
using testutil::readAll;
using testutil::shortProbe;
using testutil::when;
using testutil::writeAll;

} // namespace e2e

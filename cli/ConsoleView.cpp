#include "ConsoleView.h"

#include "Variabili.h"

#include <algorithm>

namespace {

constexpr int kRecordBytes = 16;
constexpr int kBarWidth = 24;
/// Without a known total, a plain progress line every this many records.
constexpr int kUnknownTotalEvery = 500;

QString minutes(double seconds)
{
    const int s = int(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ConsoleView::ConsoleView(QIODevice &err, bool terminal, bool quiet) : m_err(err), m_terminal(terminal), m_quiet(quiet)
{
    m_clock.start();
}

void ConsoleView::say(const QString &line)
{
    if (m_quiet)
        return;
    finishLine();
    m_err.write(line.toUtf8() + '\n');
}

void ConsoleView::finishLine()
{
    if (m_lineOpen)
        m_err.write("\n");
    m_lineOpen = false;
}

// Only the power-on instruction is for the technician at the unit; the others
// are the wizard's steps, which have no place here.
void ConsoleView::setInstruction(const QString &text)
{
    if (text == Variabili::strIstrPowerOn && text != m_instruction)
        say(text);
    m_instruction = text;
}

void ConsoleView::setStatus(const QString &text)
{
    if (text != m_status && !text.isEmpty())
        say(QStringLiteral("  ") + text);
    m_status = text;
}

void ConsoleView::setStatusText(const QString &text)
{
    // The port test's probing lines: overwritten on a terminal, left out elsewhere.
    if (m_quiet || !m_terminal)
        return;
    m_err.write("\r\033[K" + text.toUtf8());
    m_lineOpen = true;
}

void ConsoleView::showError(const QString &text)
{
    notes << text;
    say(text);
}

void ConsoleView::portUnavailable(int port, PortFault, const QString &description)
{
    notes << QStringLiteral("COM%1: %2").arg(port).arg(description);
}

void ConsoleView::progressPlanned(int steps)
{
    if (steps >= 0)
        phase = QStringLiteral("upgrade");
    m_total = steps;
    m_done = 0;
    m_lastTenth = 0;
    m_clock.restart();
}

void ConsoleView::setProgressValue(float value)
{
    // The bar's value is held within its range, as the window's bar holds it.
    const float held = std::clamp(value, 0.0f, 100.0f);
    if (held == 0.0f) {
        m_done = 0; // emptied: a new phase or a restart
        m_lastTenth = 0;
        m_clock.restart();
    } else {
        ++m_done;
        drawProgress();
    }
    m_value = held;
}

void ConsoleView::drawProgress()
{
    if (m_quiet)
        return;
    const double seconds = std::max(0.001, double(m_clock.nsecsElapsed()) / 1e9);
    const double rate = m_done / seconds;
    const int done = m_total > 0 ? std::min(m_done, m_total) : m_done;
    QString line;
    if (m_total > 0) {
        const int filled = done * kBarWidth / m_total;
        const QString bar = QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('-'));
        line = QStringLiteral("%1 [%2] %3/%4 records, %5 bytes, %6 records/s, %7 left")
                   .arg(phase, bar)
                   .arg(done)
                   .arg(m_total)
                   .arg(qint64(done) * kRecordBytes)
                   .arg(rate, 0, 'f', 1)
                   .arg(minutes(rate > 0 ? (m_total - done) / rate : 0));
    } else {
        line = QStringLiteral("%1: %2 records, %3 bytes, %4 records/s")
                   .arg(phase)
                   .arg(done)
                   .arg(qint64(done) * kRecordBytes)
                   .arg(rate, 0, 'f', 1);
    }
    if (m_terminal) {
        m_err.write("\r\033[K" + line.toUtf8());
        m_lineOpen = true;
        return;
    }
    // Plain lines: at every tenth of a known total, every 500 records otherwise.
    const int tenth = m_total > 0 ? done * 10 / m_total : done / kUnknownTotalEvery;
    if (tenth > m_lastTenth) {
        m_lastTenth = tenth;
        m_err.write("  " + line.toUtf8() + '\n');
    }
}

#include "RunRecord.h"

#include "BackupWriter.h"
#include "PlatformFile.h"

#include "CommControl.h"
#include "CommEvents.h"
#include "PortMap.h"
#include "Texts.h"
#include "Trace.h"
#include "Variabili.h"

#include <QCoreApplication>
#include <QCryptographicHash>

namespace RunRecord {

namespace {

#ifdef Q_OS_WIN
const char *const kLineBreak = "\r\n"; // Notepad shows one line without it
#else
const char *const kLineBreak = "\n";
#endif

QString seconds(std::chrono::milliseconds d)
{
    return QString::number(double(d.count()) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

QString millis(std::chrono::microseconds d)
{
    return QString::number(double(d.count()) / 1000.0, 'f', 1) + QStringLiteral(" ms");
}

QString fileLine(const char *what, const FileFacts &f)
{
    return QStringLiteral("%1: %2, %3 bytes, SHA-256 %4")
        .arg(QLatin1String(what), f.path, QString::number(f.size), QString::fromLatin1(f.sha256Hex));
}

} // namespace

FileFacts factsOf(const QString &path, const QByteArray &bytes)
{
    return {path, bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()};
}

QString adapterHint(std::chrono::microseconds meanAnswer)
{
    if (meanAnswer < kRecordWireTime + kAdapterHintExcess)
        return {};
    return QStringLiteral("The unit's answers took %1 on average, %2 more than the line needs: the serial adapter "
                          "holds received bytes (its latency timer), and every record waits for it. On Windows set "
                          "the timer to 1 ms: Device Manager > Ports (COM & LPT) > the adapter's port > Properties > "
                          "Port Settings > Advanced > Latency Timer (msec). On Linux the program asks for it itself.")
        .arg(millis(meanAnswer), millis(meanAnswer - kRecordWireTime));
}

QByteArray Entry::text() const
{
    QStringList lines;
    // Local time with its offset from UTC, so entries from PCs in other zones compare.
    const QDateTime local = started.toOffsetFromUtc(started.offsetFromUtc());
    lines << QStringLiteral("%1  k410-bios %2  %3")
                 .arg(local.toString(Qt::ISODate), version, language.isEmpty() ? QStringLiteral("-") : language);
    QString where = port > 0 ? QStringLiteral("COM%1").arg(port) : QStringLiteral("no port");
    if (!device.isEmpty())
        where += QStringLiteral(" (%1)").arg(device);
    if (!settings.isEmpty())
        where += QStringLiteral(" at ") + settings;
    lines << QStringLiteral("  %1 on %2, %3").arg(kind, where, seconds(duration));
    if (backup)
        lines << QStringLiteral("  ") + fileLine("Backup", *backup);
    if (image)
        lines << QStringLiteral("  ") + fileLine("Image", *image);
    if (recordsSent >= 0) {
        QString counts = QStringLiteral("  Records sent: %1; line errors: %2").arg(recordsSent).arg(lineErrors);
        if (meanRecordAnswer)
            counts += QStringLiteral("; answer per record: %1 on average (the line takes %2)")
                          .arg(millis(*meanRecordAnswer), millis(kRecordWireTime));
        lines << counts;
        if (meanRecordAnswer && !adapterHint(*meanRecordAnswer).isEmpty())
            lines << QStringLiteral("  Hint: ") + adapterHint(*meanRecordAnswer);
    } else if (lineErrors > 0) {
        lines << QStringLiteral("  Line errors: %1").arg(lineErrors);
    }
    for (const QString &note : notes)
        lines << QStringLiteral("  ") + note;
    lines << QStringLiteral("  Ended: ") + ending;
    QByteArray bytes;
    for (const QString &line : lines) {
        // One entry, one line per field: line breaks inside a text would read as fields.
        QString flat = line;
        flat.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        bytes += flat.toUtf8() + kLineBreak;
    }
    return bytes + kLineBreak;
}

QString path()
{
    return PlatformFile::WorkingFolder::folderFor(ImageFile::BackupWriter::workingDirectory()) + QLatin1Char('/')
           + QLatin1String(kFileName);
}

QString append(const Entry &entry)
{
    PlatformFile::WorkingFolder folder;
    const QString name = QLatin1String(kFileName);
    PlatformFile::Outcome done = folder.open(ImageFile::BackupWriter::workingDirectory(), name);
    if (done.ok())
        done = folder.appendFile(name, entry.text(), kMaxBytes, QLatin1String(kOlderFileName));
    if (done.ok())
        return {};
    const QString why = done.osError != 0 ? PlatformFile::plainWords(done.osError) : done.what;
    return why.isEmpty() ? QStringLiteral("cannot be written") : why;
}

QString languageName()
{
    switch (Texts::language()) {
    case Texts::Language::French: return QStringLiteral("French");
    case Texts::Language::German: return QStringLiteral("German");
    case Texts::Language::English: return QStringLiteral("English");
    case Texts::Language::Italian: return QStringLiteral("Italian");
    }
    return {};
}

QString programVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral(K410_VERSION) : version;
}

} // namespace RunRecord

namespace {

/// The window's port test view, passed through, noting why ports could not be used.
class NotingView : public PortTestView
{
public:
    explicit NotingView(PortTestView &inner) : m_inner(inner) {}
    QStringList notes;

    void setComButtonEnabled(bool v) override { m_inner.setComButtonEnabled(v); }
    void setComButtonVisible(bool v) override { m_inner.setComButtonVisible(v); }
    void setStatusLineVisible(bool v) override { m_inner.setStatusLineVisible(v); }
    void setStatusText(const QString &t) override { m_inner.setStatusText(t); }
    void setNextVisible(bool v) override { m_inner.setNextVisible(v); }
    void setPreviousVisible(bool v) override { m_inner.setPreviousVisible(v); }
    void setPortFrameCaption(const QString &t) override { m_inner.setPortFrameCaption(t); }
    void setPortFrameVisible(bool v) override { m_inner.setPortFrameVisible(v); }
    void setPortOptionEnabled(int port, bool v) override { m_inner.setPortOptionEnabled(port, v); }
    void setInstruction(const QString &t) override { m_inner.setInstruction(t); }
    void setPowerAdapterVisible(bool v) override { m_inner.setPowerAdapterVisible(v); }
    void portUnavailable(int port, PortFault fault, const QString &description) override
    {
        notes << QStringLiteral("COM%1 could not be used: %2").arg(port).arg(description);
        m_inner.portUnavailable(port, fault, description);
    }

private:
    PortTestView &m_inner;
};

} // namespace

PortTestEnding runRecordedPortTest(CommControl &MSComm1, EventPump &pump, PortTestView &view, const ProbeTiming &timing)
{
    RunRecord::Entry entry;
    entry.kind = QStringLiteral("Port test");
    entry.version = RunRecord::programVersion();
    entry.language = RunRecord::languageName();
    const auto started = std::chrono::steady_clock::now();
    const int lineErrorsBefore = CommEvents::lineErrorsSeen();
    NotingView noting(view);
    const PortTestEnding ending = runPortTest(MSComm1, pump, noting, timing);
    entry.duration =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    entry.lineErrors = CommEvents::lineErrorsSeen() - lineErrorsBefore;
    entry.notes = noting.notes;
    switch (ending) {
    case PortTestEnding::Found:
        entry.port = Variabili::intComPort;
        entry.device = PortMap::deviceForPort(entry.port);
        entry.settings = MSComm1.Settings(); // the setting the unit answered at
        entry.ending = QStringLiteral("the unit answered");
        break;
    case PortTestEnding::NoPort:
        entry.ending = QStringLiteral("no port answered");
        break;
    case PortTestEnding::Stopped:
        entry.ending = QStringLiteral("stopped");
        break;
    }
    const QString why = RunRecord::append(entry);
    if (!why.isEmpty() && Trace::enabled())
        Trace::line(QStringLiteral("NOTE run record not written: ") + why);
    return ending;
}


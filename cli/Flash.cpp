#include "Flash.h"

#include "CommEvents.h"
#include "ConsoleView.h"
#include "EventPump.h"
#include "ExitStatus.h"
#include "ImageFile.h"
#include "MSComm.h"
#include "PortMap.h"
#include "PortTest.h"
#include "Protocol.h"
#include "RunRecord.h"
#include "RunTimeError.h"
#include "StartProcedure.h"
#include "StopSignals.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <optional>

namespace Flash {

namespace {

using ExitStatus::Status;

const QStringList kCommands{"ports", "probe", "check", "backup", "upgrade", "verify"};

struct UsageError
{
    QString text;
};

/// The command line, taken apart.
struct Options
{
    QString command;
    QString port;      ///< "1" to "4" or a device name; empty when not given
    QString backup;    ///< upgrade --backup FILE
    QString language;  ///< fr, de, en, it
    bool json = false;
    bool quiet = false;
    QStringList files; ///< the command's FILE or IMAGE
};

Options parse(const QStringList &args)
{
    Options o;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        const bool hasValue = arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='));
        if (hasValue) {
            value = arg.section(QLatin1Char('='), 1);
            arg = arg.section(QLatin1Char('='), 0, 0);
        }
        const auto takeValue = [&]() {
            if (hasValue)
                return value;
            if (i + 1 >= args.size())
                throw UsageError{QStringLiteral("%1 needs a value").arg(arg)};
            return args[++i];
        };
        if (arg == QLatin1String("--port"))
            o.port = takeValue();
        else if (arg == QLatin1String("--backup"))
            o.backup = takeValue();
        else if (arg == QLatin1String("--lang"))
            o.language = takeValue();
        else if (arg == QLatin1String("--json"))
            o.json = true;
        else if (arg == QLatin1String("--quiet") || arg == QLatin1String("-q"))
            o.quiet = true;
        else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1)
            throw UsageError{QStringLiteral("unknown option '%1'").arg(arg)};
        else if (o.command.isEmpty())
            o.command = arg;
        else
            o.files << arg;
    }
    if (o.command.isEmpty())
        throw UsageError{QStringLiteral("no command given")};
    if (!kCommands.contains(o.command))
        throw UsageError{QStringLiteral("unknown command '%1'").arg(o.command)};
    const bool transfer = o.command == QLatin1String("backup") || o.command == QLatin1String("upgrade")
                          || o.command == QLatin1String("verify");
    const int files = o.command == QLatin1String("ports") || o.command == QLatin1String("probe") ? 0 : 1;
    if (o.files.size() != files)
        throw UsageError{files == 0 ? QStringLiteral("%1 takes no file").arg(o.command)
                                    : QStringLiteral("%1 takes one file").arg(o.command)};
    if (transfer && o.port.isEmpty())
        throw UsageError{QStringLiteral("%1 needs --port").arg(o.command)};
    if (!o.backup.isEmpty() && o.command != QLatin1String("upgrade"))
        throw UsageError{QStringLiteral("--backup goes with upgrade only")};
    if (!o.language.isEmpty() && !QStringList{"fr", "de", "en", "it"}.contains(o.language))
        throw UsageError{QStringLiteral("--lang takes fr, de, en or it")};
    return o;
}

// The catalogue in the language asked for, or the one of the environment's
// locale, English otherwise.
void loadLanguage(QString language)
{
    if (language.isEmpty())
        language = QLocale::system().name().left(2);
    if (language == QLatin1String("fr"))
        Testfile::LoadFrench();
    else if (language == QLatin1String("de"))
        Testfile::LoadGerman();
    else if (language == QLatin1String("it"))
        Testfile::LoadItalian();
    else
        Testfile::LoadEnglish();
}

// --port N tries port N alone; --port DEVICE puts the device behind port 1
// and tries that. The other ports are left without a device for this run.
int choosePort(const QString &arg)
{
    bool number = false;
    int port = arg.toInt(&number);
    if (!number || port < 1 || port > 4) {
        qputenv("K410_COM1", QFile::encodeName(arg));
        port = 1;
    }
    for (int other = 1; other <= 4; ++other) {
        if (other != port)
            qputenv(qPrintable(QStringLiteral("K410_COM%1").arg(other)), QByteArray());
    }
    return port;
}

QJsonValue factsJson(const std::optional<RunRecord::FileFacts> &f)
{
    if (!f)
        return QJsonValue::Null;
    return QJsonObject{{"path", f->path}, {"size", double(f->size)}, {"sha256", QString::fromLatin1(f->sha256Hex)}};
}

/// What a command found, for the JSON object and the summary lines.
struct Report
{
    QJsonObject json;
    Status status = ExitStatus::Done;
    QString error;      ///< what went wrong, for standard error
    QStringList lines;  ///< the summary for standard output
};

void setError(Report &r, Status status, int number, const QString &text)
{
    r.status = status;
    r.error = text;
    r.json.insert("error", QJsonObject{{"number", number}, {"text", text}});
}

Report ports()
{
    Report r;
    QJsonArray list;
    for (int port = 1; port <= 4; ++port) {
        const QString device = PortMap::deviceForPort(port);
        QString why;
        if (device.isEmpty()) {
            why = QStringLiteral("no device");
        } else {
            try {
                MSComm control;
                control.setCommPort(qint16(port));
                control.setSettings(QString::fromLatin1(kTransferSettings));
                control.setPortOpen(true);
                control.setPortOpen(false);
            } catch (const RunTimeError &e) {
                why = e.description();
            }
        }
        r.lines << QStringLiteral("COM%1  %2  %3").arg(port).arg(device.isEmpty() ? QStringLiteral("-") : device,
                                                                 why.isEmpty() ? QStringLiteral("can be opened") : why);
        list.append(QJsonObject{{"port", port}, {"device", device}, {"usable", why.isEmpty()}, {"why", why}});
    }
    r.json.insert("ports", list);
    return r;
}

Report probe(ConsoleView &view)
{
    Report r;
    MSComm control;
    const PortTestEnding ending = runRecordedPortTest(control, EventPump::instance(), view);
    view.finishLine();
    if (ending == PortTestEnding::Found) {
        const int port = Variabili::intComPort;
        r.json.insert("port", port);
        r.json.insert("device", PortMap::deviceForPort(port));
        r.json.insert("speed", control.Settings());
        r.lines << QStringLiteral("The unit answers on COM%1 (%2) at %3")
                       .arg(port)
                       .arg(PortMap::deviceForPort(port), control.Settings());
    } else if (ending == PortTestEnding::NoPort) {
        r.status = ExitStatus::NoUnit;
        r.error = QStringLiteral("no port answered the port test");
    } else {
        r.status = ExitStatus::Stopped;
        r.error = QStringLiteral("stopped");
    }
    return r;
}

Report check(const QString &path)
{
    Report r;
    try {
        const ImageFile::Image image = ImageFile::loadImage(path);
        const auto facts = RunRecord::factsOf(path, image.bytes);
        r.json.insert("image", factsJson(facts));
        if (ImageFile::validateImage(image) == ImageFile::Verdict::Damaged) {
            setError(r, ExitStatus::DamagedImage, 0, QStringLiteral("%1: a record fails its checks before the end record").arg(path));
            return r;
        }
        int records = 0;
        while (!Protocol::isEndRecord(QByteArrayView(image.bytes).sliced(records * Protocol::RECORD_SIZE, Protocol::RECORD_SIZE)))
            ++records;
        r.json.insert("records", records);
        r.lines << QStringLiteral("%1: a good image, %2 records, %3 bytes, SHA-256 %4")
                       .arg(path)
                       .arg(records)
                       .arg(image.bytes.size())
                       .arg(QString::fromLatin1(facts.sha256Hex));
    } catch (const RunTimeError &e) {
        setError(r, ExitStatus::forError(e.number()), e.number(), e.description());
    }
    return r;
}

Report transfer(const Options &o, ConsoleView &view, int port)
{
    Report r;
    TransferJob job = TransferJob::Upgrade;
    if (o.command == QLatin1String("backup")) {
        job = TransferJob::Backup;
        view.savePath = o.files[0];
    } else if (o.command == QLatin1String("verify")) {
        job = TransferJob::Verify;
        view.imagePath = o.files[0];
    } else {
        job = o.backup.isEmpty() ? TransferJob::Upgrade : TransferJob::BackupAndUpgrade;
        view.savePath = o.backup;
        view.imagePath = o.files[0];
    }
    view.phase = job == TransferJob::Verify ? QStringLiteral("verify") : QStringLiteral("backup");

    MSComm control;
    QObject::connect(&control, &CommControl::OnComm, &control, [&] { handleCommEvent(control.CommEvent(), view); });
    int signal = 0;
    StopSignals::install([&signal](int signo) {
        signal = signo;
        Variabili::strFerma = Variabili::kFerma;
    });
    Variabili::intComPort = qint16(port);
    Variabili::bytMode = job == TransferJob::Upgrade ? 2 : 1;
    Variabili::strFerma.clear();
    StartProcedure procedure(control, EventPump::instance(), view);
    procedure.setJob(job);
    procedure.run();
    StopSignals::uninstall();
    view.finishLine();

    const StartProcedure::Result &result = procedure.result();
    r.json.insert("image", factsJson(result.record.image));
    r.json.insert("backup", factsJson(result.record.backup));
    r.json.insert("records", result.record.recordsSent);
    r.json.insert("duration_s", double(result.record.duration.count()) / 1000.0);
    switch (result.ending) {
    case StartProcedure::Ending::Completed:
        if (job == TransferJob::Verify) {
            r.json.insert("identical", result.identical);
            if (!result.identical) {
                r.json.insert("first_difference", result.firstDifference);
                setError(r, ExitStatus::VerifyMismatch, 0,
                         QStringLiteral("the unit does not hold %1: it differs from record %2")
                             .arg(o.files[0])
                             .arg(result.firstDifference));
            } else {
                r.lines << QStringLiteral("The unit holds exactly %1").arg(o.files[0]);
            }
        }
        if (result.record.backup && job != TransferJob::Verify)
            r.lines << QStringLiteral("Backup saved to %1: %2 bytes, SHA-256 %3")
                           .arg(result.record.backup->path)
                           .arg(result.record.backup->size)
                           .arg(QString::fromLatin1(result.record.backup->sha256Hex));
        if (job == TransferJob::Upgrade || job == TransferJob::BackupAndUpgrade)
            r.lines << QStringLiteral("Upgrade complete: %1 records sent in %2 s")
                           .arg(result.record.recordsSent)
                           .arg(double(result.record.duration.count()) / 1000.0, 0, 'f', 1);
        break;
    case StartProcedure::Ending::Stopped:
        if (signal == 0 && !view.lineError.isEmpty())
            setError(r, ExitStatus::LineError, 0, QStringLiteral("stopped by a line error: %1").arg(view.lineError));
        else
            setError(r, ExitStatus::Stopped, 0, QStringLiteral("stopped"));
        break;
    case StartProcedure::Ending::Damaged:
        setError(r, ExitStatus::DamagedImage, 0,
                 QStringLiteral("%1: a record fails its checks before the end record; nothing was sent").arg(o.files.last()));
        break;
    case StartProcedure::Ending::Error:
        setError(r, ExitStatus::forError(result.errorNumber), result.errorNumber, result.errorText);
        break;
    }
    return r;
}

} // namespace

QString usage()
{
    return QStringLiteral(
               "Usage: k410-flash COMMAND [options]\n"
               "Backs up and replaces the firmware (\"Bios\") of a K410 presetter over a serial cable,\n"
               "with the procedure, the checks and the safety of the k410-bios window.\n"
               "\n"
               "  ports                          ports 1-4: their device, and why one cannot be opened\n"
               "  probe [--port N]               the port test: which port the unit answers on, at which speed\n"
               "  check IMAGE                    check an image: records, size, SHA-256 (no port)\n"
               "  backup --port N FILE           read the unit out into FILE (replaced only once complete)\n"
               "  upgrade --port N [--backup FILE] IMAGE\n"
               "                                 write IMAGE into the unit, after saving its firmware to FILE\n"
               "  verify --port N IMAGE          read the unit out and compare it with IMAGE\n"
               "\n"
               "  --port N|DEVICE   port 1 to 4, or a device (/dev/ttyUSB0, COM7) used as port 1\n"
               "  --lang fr|de|en|it  language of the instructions (default: the locale's, else English)\n"
               "  --json            one JSON object with the result on standard output\n"
               "  -q, --quiet       nothing on standard error but the error\n"
               "  -h, --help        this text;  -v, --version  the version\n"
               "\n"
               "Ctrl+C (or SIGTERM) stops a transfer as the window's Exit does. Every port test and\n"
               "transfer is added to the run record k410-bios.log in the working folder.\n"
               "\n"
               "Exit status:\n")
           + ExitStatus::table();
}

int run(const QStringList &args, QIODevice &out, QIODevice &err, bool terminal)
{
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out.write(usage().toUtf8());
        return ExitStatus::Done;
    }
    if (args.contains(QLatin1String("--version")) || args.contains(QLatin1String("-v"))) {
        out.write("k410-flash " + RunRecord::programVersion().toUtf8() + '\n');
        return ExitStatus::Done;
    }
    Options o;
    try {
        o = parse(args);
    } catch (const UsageError &e) {
        err.write("k410-flash: " + e.text.toUtf8() + "\nTry 'k410-flash --help'.\n");
        return ExitStatus::Usage;
    }
    loadLanguage(o.language);
    ConsoleView view(err, terminal, o.quiet);
    int port = 0;
    if (!o.port.isEmpty())
        port = choosePort(o.port);

    QElapsedTimer clock;
    clock.start();
    Report r;
    if (o.command == QLatin1String("ports"))
        r = ports();
    else if (o.command == QLatin1String("probe"))
        r = probe(view);
    else if (o.command == QLatin1String("check"))
        r = check(o.files[0]);
    else
        r = transfer(o, view, port);

    if (o.json) {
        QJsonObject json = r.json;
        json.insert("command", o.command);
        if (port > 0 && !json.contains("port")) {
            json.insert("port", port);
            json.insert("device", PortMap::deviceForPort(port));
            json.insert("speed", QString::fromLatin1(kTransferSettings));
        }
        if (!json.contains("duration_s"))
            json.insert("duration_s", double(clock.elapsed()) / 1000.0);
        if (!json.contains("error"))
            json.insert("error", QJsonValue::Null);
        json.insert("result", ExitStatus::resultWord(r.status));
        json.insert("status", int(r.status));
        if (!view.notes.isEmpty())
            json.insert("notes", QJsonArray::fromStringList(view.notes));
        out.write(QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n');
    } else {
        for (const QString &line : r.lines)
            out.write(line.toUtf8() + '\n');
    }
    if (!r.error.isEmpty())
        err.write("k410-flash: " + r.error.toUtf8() + '\n');
    return r.status;
}

} // namespace Flash

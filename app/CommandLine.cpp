#include "CommandLine.h"

#include "AppIdentity.h"

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace CommandLine {

namespace {

// Qt's own options: those that take a value, then those that do not.
const char *const kQtOptionsWithValue[] = {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                           "-style", "-stylesheet", "-session", "-display", "-geometry",
                                           "-qwindowgeometry", "-qwindowtitle", "-qwindowicon", "-name", "-title"};
const char *const kQtFlags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};

bool oneOf(const QString &arg, const auto &names)
{
    for (const char *name : names) {
        if (arg == QLatin1String(name) || arg == QLatin1Char('-') + QLatin1String(name))
            return true;
    }
    return false;
}

QByteArray helpText()
{
    const QByteArray name = AppIdentity::kApplicationName.toUtf8();
    return "Usage: " + name + " [--help] [--version]\n"
           "Replaces the firmware (\"Bios\") of a K410 presetter over a serial cable. A window walks\n"
           "the technician through the job in French, German, English or Italian: it finds the port\n"
           "the unit answers on, can save the unit's firmware to a file, checks the new image, erases\n"
           "the unit and writes the image. Without options the start window opens.\n"
           "\n"
           "  -h, --help      print this text and exit\n"
           "  -v, --version   print the version and exit\n"
           "\n"
           "Environment:\n"
           "  K410_COM1 .. K410_COM4  the serial device of ports 1 to 4\n"
           "  K410_WORKDIR            the folder of the working copy k410.bak and of the run record\n"
           "  K410_TRACE              a file to append a trace of every byte sent and received to\n"
           "\n"
           "Every port test and every transfer is recorded in k410-bios.log in the working folder\n"
           "(~/.cache/k410-bios, or %LOCALAPPDATA%\\k410-bios on Windows).\n";
}

} // namespace

std::optional<Answer> answer(const QStringList &args)
{
    const QByteArray name = AppIdentity::kApplicationName.toUtf8();
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return Answer{0, helpText(), {}};
        if (arg == QLatin1String("--version") || arg == QLatin1String("-v"))
            return Answer{0, name + ' ' + AppIdentity::kVersion.toUtf8() + '\n', {}};
        if (oneOf(arg, kQtOptionsWithValue)) {
            ++i;
            continue;
        }
        if (oneOf(arg, kQtFlags))
            continue;
        const QByteArray what = arg.startsWith(QLatin1Char('-')) ? "unknown option" : "unexpected argument";
        return Answer{2, {}, name + ": " + what + " '" + arg.toLocal8Bit() + "'\nTry '" + name + " --help'.\n"};
    }
    return std::nullopt;
}

int print(const Answer &answer)
{
#ifdef Q_OS_WIN
    // A windowed program has no console: write to the one it was started from.
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
#endif
    std::fwrite(answer.out.constData(), 1, size_t(answer.out.size()), stdout);
    std::fwrite(answer.err.constData(), 1, size_t(answer.err.size()), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    return answer.exitCode;
}

} // namespace CommandLine

#include "SimUnit.h"

#include "SimOptions.h"
#include "TimeScale.h"

#include <chrono>
#include <exception>
#include <thread>

namespace {

/// Polls `done` (every 0.2 ms, running no window events) for at most `ms` milliseconds,
/// stretched on a slower build.
bool within(int ms, const std::function<bool()> &done)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(testutil::scaledMs(ms));
    while (!done()) {
        if (steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(200us);
    }
    return true;
}

/// Options from k410-sim's arguments; false (and why in `error`) when they are wrong.
bool parse(const QStringList &args, k410sim::SimOptions &options, QString &error)
{
    std::vector<std::string> words;
    for (const QString &arg : args)
        words.push_back(arg.toStdString());
    std::string why;
    if (k410sim::parseArguments(words, options, why))
        return true;
    error = QString::fromStdString(why);
    return false;
}

} // namespace

QByteArray toBytes(const k410sim::Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

SimUnit::SimUnit(const QStringList &args)
{
    k410sim::SimOptions options;
    if (parse(args, options, m_error))
        make(options);
}

SimUnit::SimUnit(const k410sim::SimOptions &options)
{
    make(options);
}

void SimUnit::make(const k410sim::SimOptions &options)
{
    try {
        m_unit = std::make_unique<k410sim::UnitSimulator>(options);
    } catch (const std::exception &e) {
        m_error = QString::fromLocal8Bit(e.what());
    }
}

SimUnit::~SimUnit()
{
    stop();
}

bool SimUnit::start()
{
    if (m_unit)
        m_unit->start();
    return bool(m_unit);
}

QString SimUnit::device() const
{
    return m_unit ? QString::fromStdString(m_unit->slavePath()) : QString();
}

k410sim::SimReport SimUnit::report() const
{
    return m_unit ? m_unit->report() : k410sim::SimReport();
}

QByteArray SimUnit::reportText() const
{
    return QByteArray::fromStdString(report().toText());
}

QString SimUnit::value(const QString &key)
{
    stop();
    const QByteArray wanted = key.toUtf8() + '=';
    for (const QByteArray &line : reportText().split('\n')) {
        if (line.startsWith(wanted))
            return QString::fromUtf8(line.mid(wanted.size()));
    }
    return QString();
}

long long SimUnit::number(const QString &key)
{
    bool ok = false;
    const long long n = value(key).toLongLong(&ok);
    return ok ? n : -1;
}

QByteArray SimUnit::firmware() const
{
    return m_unit ? toBytes(m_unit->firmware()) : QByteArray();
}

bool SimUnit::finished() const
{
    return m_unit && m_unit->finished();
}

bool SimUnit::waitFor(const std::function<bool(const k410sim::SimReport &)> &condition, int ms) const
{
    return within(ms, [&] { return condition(report()); });
}

bool SimUnit::waitForEnd(int ms) const
{
    return within(ms, [this] { return finished(); });
}

void SimUnit::stop()
{
    if (m_unit)
        m_unit->stop();
}

int SimUnit::hostDescriptors() const
{
    return descriptorsOn(device()) - (m_unit && !finished() ? 1 : 0);
}

QByteArray SimUnit::image(const QStringList &args, bool damaged)
{
    k410sim::SimOptions options;
    QString error;
    if (!parse(args, options, error))
        return QByteArray();
    k410sim::Bytes image = k410sim::generateImage(options.records, options.seed);
    if (damaged)
        image = k410sim::damageImage(image, options.records);
    return toBytes(image);
}

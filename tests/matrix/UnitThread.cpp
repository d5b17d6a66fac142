#include "UnitThread.h"

#include <chrono>
#include <thread>

UnitThread::UnitThread(const k410sim::SimOptions &options)
    : m_unit(std::make_unique<k410sim::UnitSimulator>(options))
{
    m_unit->start();
}

UnitThread::~UnitThread()
{
    stop();
}

QString UnitThread::device() const
{
    return QString::fromStdString(m_unit->slavePath());
}

k410sim::SimReport UnitThread::report() const
{
    return m_unit->report();
}

QByteArray UnitThread::firmware() const
{
    const k410sim::Bytes bytes = m_unit->firmware();
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

bool UnitThread::finished() const
{
    return m_unit->finished();
}

bool UnitThread::waitFor(const std::function<bool(const k410sim::SimReport &)> &condition, int ms) const
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(ms);
    for (;;) {
        if (condition(report()))
            return true;
        if (steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(200us);
    }
}

void UnitThread::stop()
{
    m_unit->stop();
}

QByteArray reportText(const k410sim::SimReport &report)
{
    return QByteArray::fromStdString(report.toText());
}

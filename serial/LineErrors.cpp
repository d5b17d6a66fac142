#include "LineErrors.h"
#include "CommEvents.h"

QList<qint16> lineEventsBetween(const LineCounters &before, const LineCounters &after)
{
    using namespace CommEvents;
    // Ascending by code.
    const struct
    {
        quint32 LineCounters::*counter;
        qint16 code;
    } rows[] = {
        {&LineCounters::cts, comEvCTS},           {&LineCounters::dsr, comEvDSR},
        {&LineCounters::dcd, comEvCD},            {&LineCounters::ring, comEvRing},
        {&LineCounters::brk, comEventBreak},      {&LineCounters::frame, comEventFrame},
        {&LineCounters::overrun, comEventOverrun}, {&LineCounters::bufOverrun, comEventRxOver},
        {&LineCounters::parity, comEventRxParity}, {&LineCounters::txFull, comEventTxFull},
    };
    QList<qint16> codes;
    for (const auto &row : rows) {
        if (after.*row.counter != before.*row.counter)
            codes.append(row.code);
    }
    return codes;
}

LineCounters addCommErrorFlags(LineCounters counters, quint32 flags)
{
    using namespace CommErrorFlags;
    const struct
    {
        quint32 flag;
        quint32 LineCounters::*counter;
    } rows[] = {
        {kBreak, &LineCounters::brk},          {kFrame, &LineCounters::frame},
        {kOverrun, &LineCounters::overrun},    {kRxOver, &LineCounters::bufOverrun},
        {kRxParity, &LineCounters::parity},    {kTxFull, &LineCounters::txFull},
    };
    for (const auto &row : rows) {
        if (flags & row.flag)
            ++(counters.*row.counter);
    }
    return counters;
}

LineCounters addDriverErrorCounts(LineCounters flagCounts, const DriverErrorCounts &driver)
{
    // Unsigned sums: a count that wraps still differs from the last reading.
    flagCounts.frame += driver.frame;
    flagCounts.overrun += driver.overrun;
    flagCounts.bufOverrun += driver.bufOverrun;
    flagCounts.parity += driver.parity;
    return flagCounts;
}

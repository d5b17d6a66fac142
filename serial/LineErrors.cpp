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

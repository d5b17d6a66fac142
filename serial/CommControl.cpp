#include "CommControl.h"

#include "RunTimeError.h"

void closePortQuietly(CommControl &port)
{
    try {
        if (port.PortOpen())
            port.setPortOpen(false);
    } catch (const RunTimeError &) {
    }
}

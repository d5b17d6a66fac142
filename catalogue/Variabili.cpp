#include "Variabili.h"

namespace Variabili {

QString *const *catalogueSlots()
{
    static QString *const table[kSlotCount] = {
        &strTitle,        &strFraCom,      &strFramode,      &strStartBackUp,  &strStartUpgr,
        &strIstrCable,    &strIstrTest,    &strIstrPowerOff, &strIstrMode,     &strIstrStart,
        &strNoPort,       &strLinking,     &strBackUpActive, &strBiosSaved,    &strUpgrActive,
        &strUpgrDone,     &strTransferBroken, &strPortTest,  &strConnected,    &strSaveTitle,
        &strOpenTitle,    &strIstrPowerOn, &strFileDamaged,  &strErasing,
    };
    return table;
}

} // namespace Variabili

#pragma once
// Program-wide state: the 24 text slots of the message catalogue and the
// variables shared by the wizard, the port test and the transfer.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace Variabili {

/// The 24 catalogue slots, in slot order. Empty until a loader of Testfile runs.
inline QString strTitle;
inline QString strFraCom;
inline QString strFramode;
inline QString strStartBackUp;
inline QString strStartUpgr;
inline QString strIstrCable;
inline QString strIstrTest;
inline QString strIstrPowerOff;
inline QString strIstrMode;
inline QString strIstrStart;
inline QString strNoPort;
inline QString strLinking;
inline QString strBackUpActive;
inline QString strBiosSaved;
inline QString strUpgrActive;
inline QString strUpgrDone;
inline QString strTransferBroken;
inline QString strPortTest;
inline QString strConnected;
inline QString strSaveTitle;
inline QString strOpenTitle;
inline QString strIstrPowerOn;
inline QString strFileDamaged;
inline QString strErasing;

/// The value of strFerma that means "stop".
inline const QString kFerma = QStringLiteral("ferma");

/// Stop request: "ferma" means stop, empty otherwise.
inline QString strFerma;
/// Serial port number 1 to 4 used by the transfer.
inline qint16 intComPort = 0;
/// 1 = Backup + Upgrade, 2 = Upgrade, 0 before a choice and after a finished transfer.
inline quint8 bytMode = 0;
/// One-byte control strings, assigned at the start of every transfer.
inline QByteArray strEnq;
inline QByteArray strAck;
inline QByteArray strNak;

/// True when a stop request is pending.
inline bool stopRequested() { return strFerma == kFerma; }

/// The 24 slots in slot order, for code that must visit all of them.
QString *const *catalogueSlots();
constexpr int kSlotCount = 24;

} // namespace Variabili

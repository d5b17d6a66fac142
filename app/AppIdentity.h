#pragma once
// Who makes this tool and how the application presents itself: the maker's
// contact lines shown on the start window, the names and version the
// application reports, its style and its icon.

#include <QString>

class QIcon;

namespace AppIdentity {

/// The maker's contact block, one line each, as the start window shows it.
inline const QString kCompanyName = QStringLiteral("Ventrisa s.r.l.");
inline const QString kStreet = QStringLiteral("Via dei Tigli 55");
inline const QString kTown = QStringLiteral("99999 Borgofinto");
inline const QString kPhoneFax = QStringLiteral("Tel 555-0100  Fax 555-0199");

/// Application name and version, as in the version resource.
inline const QString kApplicationName = QStringLiteral("k410-bios");
inline const QString kVersion = QStringLiteral("1.00");

/// The two-computers icon in its 16 x 16 and 32 x 32 pixel forms.
QIcon applicationIcon();

/// Names, version, organisation, widget style and the window icon of every
/// window of the application. Call once, right after the QApplication exists.
void applyToApplication();

} // namespace AppIdentity

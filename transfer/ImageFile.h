#pragma once
// Firmware image files (".bio" releases, ".bak" backups; one layout): image
// records back to back, the end record, then the 4-byte trailer.
//
// An image is read from its file once, into memory; the validator checks those
// bytes and the reader hands out those same bytes, so what reaches the unit is
// exactly what was checked, whatever happens to the file meanwhile. Backups
// are written by BackupWriter (the working file) and SaveTarget (the file the
// technician chose).
//
// File errors (a file that cannot be opened, a read past the end) throw
// RunTimeError worded as FileFailure.h says. A stop request seen by the
// validator throws Protocol::TransferStopped.

#include "Texts.h"

#include <QByteArray>
#include <QString>

namespace ImageFile {

/// Largest image file accepted. The unit's firmware is about 5041 records, a
/// little over 80 KB (the progress display's full scale is 80372 bytes); 16 MiB
/// leaves room for any firmware the unit could take two hundred times over,
/// while a wrongly chosen file (a disk image, a video) is refused at once
/// instead of being read into memory and checked record by record.
constexpr qint64 kMaxImageBytes = 16 * 1024 * 1024;

enum class Verdict { Accepted, Damaged };

/// An image file's bytes, read once, and the path they came from (for messages).
struct Image
{
    QString path;
    QByteArray bytes;
};

/// Reads the image at `path` into memory: a regular file of at most
/// kMaxImageBytes, opened without blocking (a pipe or a device chosen in the
/// dialog is refused, never read). The file is closed before this returns.
Image loadImage(const QString &path);

/// Validates an image in memory: its records up to the end record, and the 4
/// trailer bytes behind it. The stop request is tested before each data byte.
/// An image that ends before its end record, or whose trailer is shorter than
/// 4 bytes, throws RunTimeError (62) naming the file.
Verdict validateImage(const Image &image);

/// Hands out an image's records for the record download, from memory.
class ImageReader
{
public:
    /// Starts again at the first record of `image`.
    void open(const Image &image);
    /// The next 16-byte record.
    QByteArray nextRecord();
    /// The 4 bytes that follow the end record.
    QByteArray trailer();
    void close();
    bool isOpen() const { return m_open; }

private:
    QByteArray take(int count, Texts::Key endsBefore);

    Image m_image;
    qsizetype m_position = 0;
    bool m_open = false;
};

} // namespace ImageFile

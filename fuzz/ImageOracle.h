#pragma once
// Consistency oracle for the image validator and the image reader: an
// independent in-memory model of the image layout, and a check that runs the
// real validator and reader over a file and compares what they do with what
// the model says they must do. Shared by the libFuzzer target and the corpus
// replay test.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace ImageOracle {

/// What the file layer must make of an image.
enum class Outcome {
    Accepted,  ///< valid records, the end record, 4 trailer bytes
    Damaged,   ///< a record that is neither valid nor the end record comes first
    EndsEarly, ///< a record or the trailer runs past the end of the file
};

struct Expectation
{
    Outcome outcome = Outcome::EndsEarly;
    /// Valid records before the deciding record (the end record, the damaged
    /// record, or the record or trailer that runs past the end).
    qsizetype validRecords = 0;
    /// EndsEarly only: the records were complete, the trailer is short.
    bool trailerShort = false;
};

/// The model: walks `image` 16 bytes at a time with its own check arithmetic.
Expectation expect(QByteArrayView image);

/// Name of an outcome for failure messages and corpus file names.
const char *outcomeName(Outcome outcome);

/// Loads the file at `path` (meant to hold `image`) once with loadImage(),
/// then runs validateImage() and the reader (records up to the end record,
/// the trailer, a restart from the start) over the loaded bytes, and
/// compares each step with the model. A stop request is also tried: the
/// validator must give up before the first data byte. No step may leave a descriptor open (checked where the system tells).
/// Returns an empty string when everything agrees, otherwise what
/// differed. Only RunTimeError is caught: any other exception escapes.
QString check(QByteArrayView image, const QString &path);

} // namespace ImageOracle

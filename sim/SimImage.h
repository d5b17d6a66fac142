#pragma once
/// Image records and firmware images as the unit stores them: the record checks, the
/// deterministic sample images the simulator generates, and how the unit's memory is cut
/// into backup blocks. Plain C++, no Qt: the simulator shares no code with the application.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace k410sim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kProbe = 0x02;      ///< host's one-byte probe of the port test
constexpr std::uint8_t kEnq = 0x05;        ///< host: link request; unit: ready to send the firmware
constexpr std::uint8_t kAck = 0x06;        ///< positive answer / go-ahead
constexpr std::uint8_t kNak = 0x15;        ///< negative answer
constexpr std::uint8_t kReadRequest = 'A'; ///< host asks the unit to send its firmware
constexpr std::uint8_t kEraseRequest = 'B';///< host asks the unit to erase and receive a new firmware

constexpr std::size_t kRecordSize = 16;    ///< one image record on the wire and in files
constexpr std::size_t kDataSize = 13;      ///< firmware bytes per record
constexpr std::size_t kSumHi = 13;         ///< offset of sum / 256
constexpr std::size_t kSumLo = 14;         ///< offset of sum % 256
constexpr std::size_t kXorSum = 15;        ///< offset of the exclusive-or of the data bytes
constexpr std::size_t kTrailerSize = 4;    ///< bytes after the end record, never interpreted
constexpr std::uint8_t kErased = 0xFF;     ///< what erased unit memory reads as

/// The three check bytes of 13 data bytes: sumHi, sumLo, xorSum.
struct Checks
{
    std::uint8_t sumHi = 0;
    std::uint8_t sumLo = 0;
    std::uint8_t xorSum = 0;
};

/// Checks computed from the first 13 bytes at `data`.
Checks computeChecks(const std::uint8_t *data);
/// A record whose three check bytes match its data.
bool isValidRecord(const std::uint8_t *record);
/// The end record: all three check bytes 0xFF (its data bytes are not examined).
bool isEndRecord(const std::uint8_t *record);
/// Writes the matching check bytes into a 16-byte record.
void sealRecord(std::uint8_t *record);

/// A complete image: `records` valid records of pseudo-random data, the end record and a
/// 4-byte trailer, 16 * records + 20 bytes. The same seed always gives the same image.
Bytes generateImage(unsigned records, std::uint32_t seed);
/// The same image with one wrong check byte in its middle record (records must be > 0).
Bytes damageImage(Bytes image, unsigned records);

/// The unit's memory as it is read out: 16-byte blocks up to and including the first end
/// record, then the 4 trailer bytes. Memory beyond what was stored reads as erased (0xFF),
/// so an erased or half-written unit still ends in an end record and a trailer.
struct BackupContent
{
    std::vector<Bytes> blocks;
    Bytes trailer;
};
BackupContent backupContent(const Bytes &memory);

/// Reads a whole file; throws std::runtime_error when it cannot.
Bytes readFile(const std::string &path);
/// Writes (replaces) a file; throws std::runtime_error when it cannot.
void writeFile(const std::string &path, const Bytes &bytes);

} // namespace k410sim

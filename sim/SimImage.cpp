#include "SimImage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace k410sim {

Checks computeChecks(const std::uint8_t *data)
{
    unsigned sum = 0;
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < kDataSize; ++i) {
        sum += data[i];
        x ^= data[i];
    }
    return Checks{std::uint8_t(sum / 256), std::uint8_t(sum % 256), x};
}

bool isValidRecord(const std::uint8_t *record)
{
    const Checks c = computeChecks(record);
    return record[kSumHi] == c.sumHi && record[kSumLo] == c.sumLo && record[kXorSum] == c.xorSum;
}

bool isEndRecord(const std::uint8_t *record)
{
    return record[kSumHi] == 0xFF && record[kSumLo] == 0xFF && record[kXorSum] == 0xFF;
}

void sealRecord(std::uint8_t *record)
{
    const Checks c = computeChecks(record);
    record[kSumHi] = c.sumHi;
    record[kSumLo] = c.sumLo;
    record[kXorSum] = c.xorSum;
}

namespace {

// splitmix64: tiny, fully specified, so images are the same on every machine.
class SampleData
{
public:
    explicit SampleData(std::uint32_t seed) : m_state(seed) {}
    std::uint8_t next()
    {
        if (m_left == 0) {
            m_state += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = m_state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            m_word = z ^ (z >> 31);
            m_left = 8;
        }
        const auto b = std::uint8_t(m_word);
        m_word >>= 8;
        --m_left;
        return b;
    }

private:
    std::uint64_t m_state;
    std::uint64_t m_word = 0;
    int m_left = 0;
};

} // namespace

Bytes generateImage(unsigned records, std::uint32_t seed)
{
    SampleData rnd(seed);
    Bytes image;
    image.reserve(std::size_t(records) * kRecordSize + kRecordSize + kTrailerSize);
    std::uint8_t rec[kRecordSize];
    for (unsigned r = 0; r < records; ++r) {
        for (std::size_t i = 0; i < kDataSize; ++i)
            rec[i] = rnd.next();
        sealRecord(rec);
        image.insert(image.end(), rec, rec + kRecordSize);
    }
    for (std::size_t i = 0; i < kDataSize; ++i)
        rec[i] = rnd.next();
    rec[kSumHi] = rec[kSumLo] = rec[kXorSum] = 0xFF;
    image.insert(image.end(), rec, rec + kRecordSize);
    for (std::size_t i = 0; i < kTrailerSize; ++i)
        image.push_back(rnd.next());
    return image;
}

Bytes damageImage(Bytes image, unsigned records)
{
    if (records == 0 || image.size() < std::size_t(records) * kRecordSize)
        throw std::runtime_error("an image without records has no record to damage");
    // sumLo off by one: still not an end record (a valid sumHi is at most 12).
    image[std::size_t(records / 2) * kRecordSize + kSumLo] ^= 0x01;
    return image;
}

BackupContent backupContent(const Bytes &memory)
{
    const auto byteAt = [&memory](std::size_t i) { return i < memory.size() ? memory[i] : kErased; };
    BackupContent content;
    for (std::size_t pos = 0;; pos += kRecordSize) {
        Bytes block(kRecordSize);
        for (std::size_t i = 0; i < kRecordSize; ++i)
            block[i] = byteAt(pos + i);
        const bool end = isEndRecord(block.data());
        content.blocks.push_back(std::move(block));
        if (end) {
            for (std::size_t i = 0; i < kTrailerSize; ++i)
                content.trailer.push_back(byteAt(pos + kRecordSize + i));
            return content;
        }
    }
}

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

void writeFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace k410sim

#include "image/codecs/TiffLzw.h"

#include <cstring>

namespace gridmorph {
namespace {

constexpr std::uint32_t kClearCode = 256;
constexpr std::uint32_t kEndCode = 257;
constexpr std::uint32_t kFirstFreeCode = 258;
constexpr std::uint32_t kFullCode = 4094;  // the dictionary is cleared when this code would be next
constexpr int kFirstWidth = 9;
constexpr std::int64_t kCheckGap = 10000;  // input bytes between checks of the ratio
constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;  // key 0xFFFFF: prefix 4095 is never a code

// Codes packed from the most significant bit into a byte buffer with 8 bytes to spare
// beyond the last code: the pending bits sit at the top of a 64-bit word, which is stored
// whole after every code and advanced by the bytes it completed.
class CCodeWriter {
public:
    explicit CCodeWriter(std::uint8_t* pOut) : m_pOut(pOut) {}
    void Put(std::uint32_t nCode, int nWidth)
    {
        m_nPending |= static_cast<std::uint64_t>(nCode) << (64 - m_nPendingBits - nWidth);
        m_nPendingBits += nWidth;
        const std::uint64_t nBigEndian = __builtin_bswap64(m_nPending);
        std::memcpy(m_pOut, &nBigEndian, 8);
        const int nWhole = m_nPendingBits & ~7;
        m_pOut += nWhole >> 3;
        m_nPending <<= nWhole;
        m_nPendingBits -= nWhole;
    }
    // The last bits at the top of a final byte, zeros after them.
    std::uint8_t* Finish()
    {
        if (m_nPendingBits > 0)
            *m_pOut++ = static_cast<std::uint8_t>(m_nPending >> 56);
        return m_pOut;
    }

private:
    std::uint8_t* m_pOut;
    std::uint64_t m_nPending = 0;  // m_nPendingBits (< 8 between codes) at the top, zeros below
    int m_nPendingBits = 0;
};

inline std::uint32_t SlotOf(std::uint32_t nKey, int nSlotBits)
{
    return (nKey * 0x9E3779B1u) >> (32 - nSlotBits);
}

}  // namespace

CTiffLzwEncoder::CTiffLzwEncoder() : m_aSlots(std::size_t(1) << kSlotBits, kEmptySlot) {}

void CTiffLzwEncoder::EncodeStrip(const std::uint8_t* pData, std::size_t nBytes, std::vector<std::uint8_t>& aTarget)
{
    // At most one code per input byte and one Clear code per code, 12 bits each, and the
    // first Clear, the last string and End of Information; and the writer's 8 spare bytes.
    const std::size_t nStart = aTarget.size();
    aTarget.resize(nStart + 3 * nBytes + 16);
    CCodeWriter writer(aTarget.data() + nStart);
    int nWidth = kFirstWidth;
    if (nBytes == 0) {
        writer.Put(kEndCode, nWidth);
        aTarget.resize(std::size_t(writer.Finish() - aTarget.data()));
        return;
    }
    std::uint32_t* const pSlots = m_aSlots.data();
    const std::uint32_t nSlotMask = (1u << kSlotBits) - 1;
    std::memset(pSlots, 0xFF, m_aSlots.size() * sizeof(std::uint32_t));

    std::uint32_t nFree = kFirstFreeCode;
    std::uint32_t nLargestCode = (1u << nWidth) - 1;
    // What the ratio check counts: input bytes and output bits since the last clearing.
    std::int64_t nInput = 0, nOutputBits = 0, nCheckpoint = kCheckGap, nRatio = 0;
    auto Put = [&](std::uint32_t nCode) {
        writer.Put(nCode, nWidth);
        nOutputBits += nWidth;
    };
    auto Clear = [&] {
        std::memset(pSlots, 0xFF, m_aSlots.size() * sizeof(std::uint32_t));
        nRatio = 0;
        nInput = 0;
        nOutputBits = 0;
        nFree = kFirstFreeCode;
        Put(kClearCode);  // at the width in use until now
        nWidth = kFirstWidth;
        nLargestCode = (1u << nWidth) - 1;
    };

    Put(kClearCode);
    std::uint32_t nString = pData[0];
    nInput = 1;
    for (std::size_t i = 1; i < nBytes; ++i) {
        const std::uint32_t nByte = pData[i];
        ++nInput;
        const std::uint32_t nKey = nString | nByte << 12;
        std::uint32_t nSlot = SlotOf(nKey, kSlotBits);
        bool bFound = false;
        for (;;) {
            const std::uint32_t nValue = pSlots[nSlot];
            if (nValue == kEmptySlot)
                break;
            if ((nValue >> 12) == nKey) {
                nString = nValue & 0xFFFu;
                bFound = true;
                break;
            }
            nSlot = (nSlot + 1) & nSlotMask;
        }
        if (bFound)
            continue;
        Put(nString);
        nString = nByte;
        pSlots[nSlot] = nKey << 12 | nFree;
        ++nFree;
        if (nFree == kFullCode) {
            Clear();
        } else if (nFree > nLargestCode) {
            ++nWidth;
            nLargestCode = (1u << nWidth) - 1;
        } else if (nInput >= nCheckpoint) {
            // The ratio in 1/256ths; the checkpoint stays counted from before any clearing.
            nCheckpoint = nInput + kCheckGap;
            std::int64_t nNewRatio;
            if (nInput > 0x7FFFFF) {
                const std::int64_t nOutput = nOutputBits >> 8;
                nNewRatio = nOutput == 0 ? 0x7FFFFFFF : nInput / nOutput;
            } else {
                nNewRatio = (nInput << 8) / nOutputBits;
            }
            if (nNewRatio <= nRatio)
                Clear();
            else
                nRatio = nNewRatio;
        }
    }
    // The last string's code; a decoder adds a dictionary entry after reading it, so the
    // end code goes at the width that entry leads to (after a Clear when it fills the
    // dictionary).
    Put(nString);
    ++nFree;
    if (nFree == kFullCode) {
        Put(kClearCode);
        nWidth = kFirstWidth;
    } else if (nFree > nLargestCode) {
        ++nWidth;
    }
    Put(kEndCode);
    aTarget.resize(std::size_t(writer.Finish() - aTarget.data()));
}

bool DecodeTiffLzwStrip(const std::uint8_t* pIn, std::size_t nInBytes, std::uint8_t* pOut, std::size_t nOutBytes)
{
    // An old-style stream (least significant bit first) starts with a zero byte and an odd one.
    if (nInBytes >= 2 && pIn[0] == 0 && (pIn[1] & 1))
        return false;
    // Every code's string lies in the output already: the dictionary keeps where and how long.
    // An entry made after string P is P and the first byte of the string after it, which
    // follows P in the output: it starts where P starts, one byte longer.
    std::uint32_t aWhere[4096];
    std::uint16_t aLength[4096];
    const std::uint8_t* const pInEnd = pIn + nInBytes;
    std::uint64_t nBits = 0;  // unread bits at the top
    int nBitCount = 0;
    int nWidth = kFirstWidth;
    std::uint32_t nFree = kFirstFreeCode;
    std::size_t nOut = 0;
    std::size_t nPrevWhere = 0, nPrevLength = 0;  // the previous string; length 0: none since a Clear
    bool bCleared = false;  // a Clear code read, no byte since
    while (nOut < nOutBytes) {
        if (nBitCount < nWidth) {
            while (nBitCount <= 56 && pIn < pInEnd) {
                nBits |= static_cast<std::uint64_t>(*pIn++) << (56 - nBitCount);
                nBitCount += 8;
            }
            if (nBitCount < nWidth)
                return false;  // the data ended before the strip was full
        }
        const std::uint32_t nCode = static_cast<std::uint32_t>(nBits >> (64 - nWidth));
        nBits <<= nWidth;
        nBitCount -= nWidth;
        if (nCode == kEndCode)
            return false;
        if (nCode == kClearCode) {
            if (bCleared)
                return false;  // two in a row: libtiff's reading of that is its own
            bCleared = true;
            nFree = kFirstFreeCode;
            nWidth = kFirstWidth;
            nPrevLength = 0;
            continue;
        }
        if (nPrevLength == 0) {  // the first code after a Clear is a byte
            if (nCode > 255 || !bCleared)
                return false;  // or a stream that does not start with a Clear
            bCleared = false;
            pOut[nOut] = static_cast<std::uint8_t>(nCode);
            nPrevWhere = nOut++;
            nPrevLength = 1;
            continue;
        }
        if (nCode > nFree || nFree >= 4095)
            return false;  // an undefined code, or a dictionary never cleared
        std::size_t nWhere, nLength;
        if (nCode < 256) {
            nWhere = nOut, nLength = 1;
            pOut[nOut] = static_cast<std::uint8_t>(nCode);
        } else if (nCode < nFree) {
            nWhere = aWhere[nCode], nLength = aLength[nCode];
        } else {  // the entry this code makes: the previous string and its own first byte
            nWhere = nPrevWhere, nLength = nPrevLength + 1;
        }
        aWhere[nFree] = static_cast<std::uint32_t>(nPrevWhere);
        aLength[nFree] = static_cast<std::uint16_t>(nPrevLength + 1);
        // The decoder's width grows one code before the encoder's (it makes each entry a
        // code later).
        if (++nFree >= (1u << nWidth) - 1 && nWidth < 12)
            ++nWidth;
        if (nLength > nOutBytes - nOut)
            return false;  // a string past the end of the strip
        if (nCode >= 256) {
            std::uint8_t* pTo = pOut + nOut;
            const std::uint8_t* pFrom = pOut + nWhere;
            if (nCode == nFree - 1) {  // its last byte is its first, not yet written
                std::memmove(pTo, pFrom, nLength - 1);
                pTo[nLength - 1] = pFrom[0];
            } else if (nOut - nWhere >= 8) {  // eight bytes at a time, into the slack
                for (std::size_t i = 0; i < nLength; i += 8)
                    std::memcpy(pTo + i, pFrom + i, 8);
            } else {
                std::memmove(pTo, pFrom, nLength);
            }
        }
        nPrevWhere = nOut;
        nPrevLength = nLength;
        nOut += nLength;
    }
    return true;
}

void AccumulateTiffRows(std::uint8_t* pRows, std::size_t nRowBytes, std::size_t nRows, int nSamples)
{
    const std::size_t nStep = static_cast<std::size_t>(nSamples);
    for (std::size_t nRow = 0; nRow < nRows; ++nRow) {
        std::uint8_t* p = pRows + nRow * nRowBytes;
        for (std::size_t i = nStep; i < nRowBytes; ++i)
            p[i] = static_cast<std::uint8_t>(p[i] + p[i - nStep]);
    }
}

void DifferenceTiffRows(std::uint8_t* pRows, std::size_t nRowBytes, std::size_t nRows, int nSamples)
{
    const std::size_t nStep = static_cast<std::size_t>(nSamples);
    for (std::size_t nRow = 0; nRow < nRows; ++nRow) {
        std::uint8_t* p = pRows + nRow * nRowBytes;
        for (std::size_t i = nRowBytes; i-- > nStep;)
            p[i] = static_cast<std::uint8_t>(p[i] - p[i - nStep]);
    }
}

void SwapAndDifferenceRow(const std::uint8_t* pSource, std::uint8_t* pTarget, int nPixels)
{
    std::uint8_t nRed = 0, nGreen = 0, nBlue = 0;  // the pixel before; none before the first
    for (int x = 0; x < nPixels; ++x, pSource += 3, pTarget += 3) {
        const std::uint8_t nThisBlue = pSource[0], nThisGreen = pSource[1], nThisRed = pSource[2];
        pTarget[0] = static_cast<std::uint8_t>(nThisRed - nRed);
        pTarget[1] = static_cast<std::uint8_t>(nThisGreen - nGreen);
        pTarget[2] = static_cast<std::uint8_t>(nThisBlue - nBlue);
        nRed = nThisRed, nGreen = nThisGreen, nBlue = nThisBlue;
    }
}

}  // namespace gridmorph

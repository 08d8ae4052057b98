#pragma once

// TIFF's LZW compression (compression 5) of one strip, written here rather than through
// libtiff's codec so that a strip is predicted, compressed and appended in one pass over
// a buffer that stays in the cache, and the dictionary fits the first-level cache.
//
// The stream is the one libtiff writes, code for code: a Clear code (256) first, codes of
// 9 to 12 bits packed from the most significant bit, the code width growing once the next
// free code passes the largest the width holds, the dictionary cleared (with a Clear code
// at the old width) when its next free code reaches 4094 or when, checked every 10000
// input bytes, the ratio of input to output has stopped growing; the strip ends with the
// last string's code, End of Information (257) at the width (or after the Clear code) that
// the entry a decoder adds for that last code leads to, and the remaining bits padded with
// zeros.
// Decoders accept any LZW stream; writing libtiff's own keeps files byte for byte what
// they were.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace gridmorph {

class CTiffLzwEncoder {
public:
    CTiffLzwEncoder();

    // Appends the compressed bytes of one strip of nBytes bytes to aTarget.
    void EncodeStrip(const std::uint8_t* pData, std::size_t nBytes, std::vector<std::uint8_t>& aTarget);

private:
    // Open addressing: each used slot holds (prefix code | next byte << 12) << 12 | code.
    static constexpr int kSlotBits = 14;
    std::vector<std::uint32_t> m_aSlots;
};

// Decodes one LZW strip (new-style codes, most significant bit first, as libtiff writes
// and reads them) into exactly nOutBytes bytes at pOut, which must have kLzwDecodeSlack
// bytes to spare after them. True only for a clean stream: one that fills the strip
// exactly before its data (or an End of Information code) ends, with every code defined
// and the dictionary cleared before it is full. Anything else (an old-style stream, a
// damaged one, a short one) gives false and leaves the strip to libtiff's decoder, which
// reads damaged streams in its own way and says what is wrong; on a clean stream both give
// the same bytes.
inline constexpr std::size_t kLzwDecodeSlack = 16;
bool DecodeTiffLzwStrip(const std::uint8_t* pIn, std::size_t nInBytes, std::uint8_t* pOut, std::size_t nOutBytes);

// Undoes TIFF's horizontal predictor for 8-bit samples, in place: every sample of a row
// becomes the sum (modulo 256) of itself and the same sample of the pixel before.
void AccumulateTiffRows(std::uint8_t* pRows, std::size_t nRowBytes, std::size_t nRows, int nSamples);

// TIFF's horizontal predictor for 8-bit samples, in place: every sample of a row becomes its
// difference (modulo 256) from the same sample of the pixel before; the first pixel of each
// row stays. nRows rows of nRowBytes bytes, nSamples bytes per pixel.
void DifferenceTiffRows(std::uint8_t* pRows, std::size_t nRowBytes, std::size_t nRows, int nSamples);

// One full-colour row (blue, green, red per pixel, as pictures hold it) straight into TIFF's
// order (red first) with the horizontal predictor applied: the bytes of a swap followed by
// DifferenceTiffRows, in one pass.
void SwapAndDifferenceRow(const std::uint8_t* pSource, std::uint8_t* pTarget, int nPixels);

}  // namespace gridmorph

#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

// The numbers of an ASCII scene as Coin writes them, for both text outputs.
// Inline: formatting floats is the hot loop of every ASCII scene.
namespace kestrav {
namespace numbertext {

// Coin prints a float as printf's "%.8g" and a double as "%.16g", except that
// the exponent always has at least three digits, as the Windows C library
// writes them: 9.9999997e-006, 1e+030.
template <class Number>
inline char* formatGeneral(char* first, char* last, Number value, int precision) {
    char* end = std::to_chars(first, last, value, std::chars_format::general, precision).ptr;
    if (end - first >= 4 && end[-4] == 'e') {
        end[0] = end[-1];
        end[-1] = end[-2];
        end[-2] = '0';
        ++end;
    }
    return end;
}

// 10^k for k from -31 to 52, each the double nearest to it: the scales that
// bring the first eight digits of any finite float before the decimal point.
inline constexpr int kLowestPower = -31;
inline constexpr double kPowersOfTen[] = {
    1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20,
    1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8,
    1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4,
    1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16,
    1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28,
    1e29, 1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40,
    1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48, 1e49, 1e50, 1e51, 1e52,
};

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline void eightDigits(uint32_t n, char* out) {
    const uint32_t high = n / 10000, low = n % 10000;
    std::memcpy(out, kDigitPairs + 2 * (high / 100), 2);
    std::memcpy(out + 2, kDigitPairs + 2 * (high % 100), 2);
    std::memcpy(out + 4, kDigitPairs + 2 * (low / 100), 2);
    std::memcpy(out + 6, kDigitPairs + 2 * (low % 100), 2);
}

// The float's first eight significant digits, rounded, and the decimal exponent
// of the first: false when the value lies too near a tie between two roundings
// for double arithmetic to decide, or is zero, infinite or NaN.
inline bool roundToEightDigits(float f, uint32_t& digits, int& exponent) {
    const double x = std::fabs(double(f));
    if (!(x > 0.0) || !(x <= double(std::numeric_limits<float>::max()))) return false;
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int binaryExponent = int(bits >> 52) - 1023;
    // floor(log10(x)) or one below it: 78913 / 2^18 is just under log10(2),
    // and the added 64 keeps the shifted value positive.
    exponent = ((binaryExponent * 78913 + (64 << 18)) >> 18) - 64;
    double scaled = x * kPowersOfTen[7 - exponent - kLowestPower];
    if (scaled >= 1e8) {
        ++exponent;
        scaled = x * kPowersOfTen[7 - exponent - kLowestPower];
    }
    // The product is off by less than 3e-8 from the exact x * 10^(7 - exponent).
    digits = uint32_t(scaled);
    const double fraction = scaled - double(digits);
    if (std::fabs(fraction - 0.5) < 1e-6) return false;
    if (fraction > 0.5) ++digits;
    if (digits == 100000000) {
        digits = 10000000;
        ++exponent;
    }
    return digits >= 10000000;
}

// Writes f as formatGeneral(f, 8) does, from eight rounded digits. Digits are
// copied eight at a time and the end set after, so up to 18 bytes from first
// are written.
inline char* formatFloat(char* first, char* last, float f) {
    uint32_t digits;
    int exponent;
    if (!roundToEightDigits(f, digits, exponent)) return formatGeneral(first, last, f, 8);
    char* out = first;
    *out = '-';
    out += std::signbit(f) ? 1 : 0;
    char figures[16] = {};
    eightDigits(digits, figures);
    int count = 8;
    while (figures[count - 1] == '0') --count;
    if (exponent >= 0 && exponent < 8) {
        const int whole = exponent + 1;
        std::memcpy(out, figures, 8);
        out += whole;
        if (count <= whole) return out;
        *out = '.';
        std::memcpy(out + 1, figures + whole, 8);
        return out + 1 + (count - whole);
    }
    if (exponent < 0 && exponent >= -4) {
        std::memcpy(out, "0.000", 5);
        out += 1 - exponent;
        std::memcpy(out, figures, 8);
        return out + count;
    }
    out[0] = figures[0];
    out[1] = '.';
    std::memcpy(out + 2, figures + 1, 8);
    out += count > 1 ? count + 1 : 1;
    std::memcpy(out, exponent < 0 ? "e-0" : "e+0", 3);
    std::memcpy(out + 3, kDigitPairs + 2 * (exponent < 0 ? -exponent : exponent), 2);
    return out + 5;
}

}  // namespace numbertext
}  // namespace kestrav

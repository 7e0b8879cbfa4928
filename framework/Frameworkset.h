// System::Set<T, lo, hi>: a set of the values of an enumeration, one bit each.
//
// The value with ordinal n is bit n: byte n / 8 of the storage, bit n % 8 of
// that byte. So a set whose values fit in 0..15 occupies two bytes that read
// as one little-endian 16-bit word with bit n for value n, which is how the
// type information describes the set's storage (see ToInt and FromInt for the
// same word on any byte order).
//
//   enum class Colour : signed char { Red, Green, Blue };
//   System::Set<Colour, 0, 2> s;
//   s << Colour::Red << Colour::Blue;   // insert
//   s >> Colour::Red;                   // remove
//   s.Contains(Colour::Blue);           // true
//   s.ToInt();                          // 0x4
//
// Inserting or removing a value outside lo..hi raises Vcl::ERangeError; asking
// whether such a value is contained answers false.
#ifndef QUORVEX_FRAMEWORK_FRAMEWORKSET_H
#define QUORVEX_FRAMEWORK_FRAMEWORKSET_H

#include "Frameworkerrors.h"

#include <cstdint>
#include <initializer_list>
#include <string>

namespace System {

template <class T, unsigned char lo, unsigned char hi>
class Set {
    static_assert(lo <= hi, "empty range");

public:
    // Number of storage bytes: enough for bit hi.
    static constexpr int StorageBytes = hi / 8 + 1;

    Set() noexcept = default;
    Set(std::initializer_list<T> values)
    {
        for (T value : values)
            *this << value;
    }

    // Inserts a value; ERangeError when it lies outside lo..hi.
    Set& operator<<(T value)
    {
        const int n = checked(value);
        bytes_[n / 8] = static_cast<unsigned char>(bytes_[n / 8] | (1u << (n % 8)));
        return *this;
    }
    // Removes a value; ERangeError when it lies outside lo..hi.
    Set& operator>>(T value)
    {
        const int n = checked(value);
        bytes_[n / 8] = static_cast<unsigned char>(bytes_[n / 8] & ~(1u << (n % 8)));
        return *this;
    }
    bool Contains(T value) const noexcept
    {
        const long n = static_cast<long>(value);
        return n >= lo && n <= hi && (bytes_[n / 8] >> (n % 8) & 1u) != 0;
    }

    Set& Clear() noexcept
    {
        for (auto& byte : bytes_)
            byte = 0;
        return *this;
    }
    bool Empty() const noexcept
    {
        for (auto byte : bytes_)
            if (byte != 0)
                return false;
        return true;
    }

    friend bool operator==(const Set& a, const Set& b) noexcept
    {
        for (int i = 0; i < StorageBytes; ++i)
            if (a.bytes_[i] != b.bytes_[i])
                return false;
        return true;
    }
    friend bool operator!=(const Set& a, const Set& b) noexcept { return !(a == b); }

    // Union, difference and intersection.
    friend Set operator+(Set a, const Set& b) noexcept { return a.combine(b, [](unsigned x, unsigned y) { return x | y; }); }
    friend Set operator-(Set a, const Set& b) noexcept { return a.combine(b, [](unsigned x, unsigned y) { return x & ~y; }); }
    friend Set operator*(Set a, const Set& b) noexcept { return a.combine(b, [](unsigned x, unsigned y) { return x & y; }); }

    // The set as an integer with bit n for the value with ordinal n; for sets
    // whose values all fit in 0..31.
    std::uint32_t ToInt() const noexcept
    {
        static_assert(hi < 32, "set too large for an integer");
        std::uint32_t word = 0;
        for (int i = 0; i < StorageBytes; ++i)
            word |= static_cast<std::uint32_t>(bytes_[i]) << (8 * i);
        return word;
    }
    // The set whose members are the bits of `word`; bits outside lo..hi are dropped.
    static Set FromInt(std::uint32_t word) noexcept
    {
        static_assert(hi < 32, "set too large for an integer");
        Set set;
        for (int n = lo; n <= hi; ++n)
            if ((word >> n & 1u) != 0)
                set.bytes_[n / 8] = static_cast<unsigned char>(set.bytes_[n / 8] | (1u << (n % 8)));
        return set;
    }

    // The raw storage, StorageBytes bytes.
    const unsigned char* Data() const noexcept { return bytes_; }

private:
    static int checked(T value)
    {
        const long n = static_cast<long>(value);
        if (n < lo || n > hi)
            throw Vcl::ERangeError("Set element " + std::to_string(n) + " out of range " +
                                   std::to_string(lo) + ".." + std::to_string(hi));
        return static_cast<int>(n);
    }
    template <class Op>
    Set& combine(const Set& other, Op op) noexcept
    {
        for (int i = 0; i < StorageBytes; ++i)
            bytes_[i] = static_cast<unsigned char>(op(bytes_[i], other.bytes_[i]));
        return *this;
    }

    unsigned char bytes_[StorageBytes] = {};
};

}  // namespace System

#endif

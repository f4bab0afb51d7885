#pragma once

#include <cmath>
#include <limits>
#include <utility>

// Internal to the JSON library: numbers whose every operation rounds to 53 bits, as a double's
// do, but whose exponent range is wide enough never to overflow or underflow in between (the
// number reader's steps on the x87 unit at 53-bit precision). A value is a double mantissa
// (0, or in [0.5, 1)) times 2 to an int exponent. Multiplying or adding two such mantissas is
// one IEEE double operation on normal numbers, so it rounds exactly as one 53-bit x87 step
// does, and the exponent never overflows or underflows in between. Non-negative values only:
// the reader applies the sign last.
class ExtendedRangeDouble {
 public:
  ExtendedRangeDouble() = default;

  // value must be finite and non-negative; denormals are normalised exactly.
  static ExtendedRangeDouble fromDouble(double value) {
    ExtendedRangeDouble result;
    result.mantissa_ = std::frexp(value, &result.exponent_);
    return result;
  }

  bool isZero() const { return mantissa_ == 0.0; }
  int exponent() const { return exponent_; }

  // One rounded step: times a positive normal double no larger than 10 (a digit, 10, 0.1).
  void multiplyBy(double factor) { renormalize(mantissa_ * factor); }
  // One rounded step: divided by ten.
  void divideByTen() { renormalize(mantissa_ / 10.0); }

  // One rounded step: this + addend.
  void add(ExtendedRangeDouble addend) {
    if (addend.isZero()) {
      return;
    }
    if (isZero()) {
      *this = addend;
      return;
    }
    if (exponent_ < addend.exponent_) {
      std::swap(*this, addend);
    }
    const int shift = addend.exponent_ - exponent_;
    // The addend is below half an ulp of the larger mantissa (>= 0.5, ulp 2^-53): rounding to
    // nearest leaves the sum unchanged. Above that bound the shifted addend is a normal double.
    if (shift < -60) {
      return;
    }
    renormalize(mantissa_ + std::ldexp(addend.mantissa_, shift));
  }

  // The value stored to a double: exact in the normal range, rounded once (to nearest even) into
  // the denormal range, infinity above the double range, zero far below it.
  double toDouble() const {
    if (exponent_ > 1024) {
      return std::numeric_limits<double>::infinity();
    }
    if (isZero() || exponent_ >= -1021) {
      return std::ldexp(mantissa_, exponent_);
    }
    if (exponent_ < -1100) {
      return 0.0;
    }
    // Scaled into the normal range exactly, then one multiplication rounds into the denormals.
    return std::ldexp(mantissa_, exponent_ + 128) * 0x1p-128;
  }

 private:
  void renormalize(double scaled) {
    int shift = 0;
    mantissa_ = std::frexp(scaled, &shift);
    exponent_ += shift;
  }

  double mantissa_ = 0.0;
  int exponent_ = 0;
};

// Value equality for the fuzz targets: like EncodableValue's ==, except that
// floating-point numbers (alone and in lists) are equal only when their bits
// are, so a NaN equals the same NaN and -0.0 differs from 0.0.

#ifndef SNAPFERRY_FUZZ_BITWISE_EQUAL_H_
#define SNAPFERRY_FUZZ_BITWISE_EQUAL_H_

#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "messaging/encodable_value.h"

namespace fuzz {

bool BitwiseEqual(const flutter::EncodableValue& a,
                  const flutter::EncodableValue& b);

namespace internal {

struct BitwiseComparer {
  const flutter::EncodableValue& other;

  template <typename T>
  const T& Other() const {
    return *std::get_if<T>(&other);
  }
  bool operator()(const std::monostate&) const { return true; }
  bool operator()(double a) const {
    double b = Other<double>();
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
  // Scalars, strings and every typed list: the same bytes.
  template <typename T>
  bool operator()(const T& a) const {
    return a == Other<T>();
  }
  template <typename T>
  bool operator()(const std::vector<T>& a) const {
    const auto& b = Other<std::vector<T>>();
    return a.size() == b.size() &&
           (a.empty() ||
            std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
  }
  bool operator()(const flutter::ValueList& a) const {
    const auto& b = Other<flutter::ValueList>();
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (!BitwiseEqual(a[i], b[i])) return false;
    }
    return true;
  }
  bool operator()(const flutter::ValueMap& a) const {
    const auto& b = Other<flutter::ValueMap>();
    if (a.size() != b.size()) return false;
    for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
      if (!BitwiseEqual(ia->first, ib->first) ||
          !BitwiseEqual(ia->second, ib->second)) {
        return false;
      }
    }
    return true;
  }
};

}  // namespace internal

inline bool BitwiseEqual(const flutter::EncodableValue& a,
                         const flutter::EncodableValue& b) {
  if (a.index() != b.index()) return false;
  return std::visit(internal::BitwiseComparer{b},
                    static_cast<const flutter::EncodableValueVariant&>(a));
}

}  // namespace fuzz

#endif  // SNAPFERRY_FUZZ_BITWISE_EQUAL_H_

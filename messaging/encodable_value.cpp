#include "messaging/encodable_value.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <type_traits>

namespace flutter {

namespace {

int Sign(bool less, bool greater) { return less ? -1 : (greater ? 1 : 0); }

// Numbers by `<`, except that a NaN sorts after every other number and is
// equivalent to every NaN: `<` alone would make a NaN equivalent to all
// numbers, which no ordered container can hold (1 ~ NaN ~ 2, yet 1 < 2).
// -0.0 and 0.0 stay equivalent.
template <typename T>
int CompareScalars(const T& a, const T& b) {
  if constexpr (std::is_floating_point_v<T>) {
    const bool a_nan = std::isnan(a);
    const bool b_nan = std::isnan(b);
    if (a_nan || b_nan) return Sign(!a_nan, !b_nan);
  }
  return Sign(a < b, b < a);
}

// Unsigned byte-wise over the common prefix, then the shorter first.
int CompareBytes(const void* a, size_t a_size, const void* b, size_t b_size) {
  size_t common = std::min(a_size, b_size);
  if (common > 0) {
    int c = std::memcmp(a, b, common);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  return CompareScalars(a_size, b_size);
}

// Lexicographic by element, a proper prefix first.
template <typename T, typename ElementCompare>
int CompareSequences(const std::vector<T>& a, const std::vector<T>& b,
                     ElementCompare compare) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    int c = compare(a[i], b[i]);
    if (c != 0) return c;
  }
  return CompareScalars(a.size(), b.size());
}

struct ContentComparer {
  const EncodableValue& other;

  int operator()(const std::monostate&) const { return 0; }
  int operator()(bool a) const { return CompareScalars(a, Get<bool>()); }
  int operator()(int32_t a) const { return CompareScalars(a, Get<int32_t>()); }
  int operator()(int64_t a) const { return CompareScalars(a, Get<int64_t>()); }
  int operator()(double a) const { return CompareScalars(a, Get<double>()); }
  int operator()(const std::string& a) const {
    const auto& b = Get<std::string>();
    return CompareBytes(a.data(), a.size(), b.data(), b.size());
  }
  int operator()(const std::vector<uint8_t>& a) const {
    const auto& b = Get<std::vector<uint8_t>>();
    return CompareBytes(a.data(), a.size(), b.data(), b.size());
  }
  template <typename T>
  int operator()(const std::vector<T>& a) const {
    return CompareSequences(
        a, Get<std::vector<T>>(),
        [](const T& x, const T& y) { return CompareScalars(x, y); });
  }
  int operator()(const ValueList& a) const {
    return CompareSequences(a, Get<ValueList>(), EncodableValue::CompareValues);
  }
  int operator()(const ValueMap& a) const {
    const auto& b = Get<ValueMap>();
    auto ia = a.begin();
    auto ib = b.begin();
    for (; ia != a.end() && ib != b.end(); ++ia, ++ib) {
      int c = EncodableValue::CompareValues(ia->first, ib->first);
      if (c == 0) c = EncodableValue::CompareValues(ia->second, ib->second);
      if (c != 0) return c;
    }
    return CompareScalars(a.size(), b.size());
  }
  int operator()(const CustomValue& a) const {
    const auto& b = Get<CustomValue>();
    return Sign(a < b, b < a);
  }

  template <typename T>
  const T& Get() const {
    return *std::get_if<T>(&other);
  }
};

}  // namespace

bool operator<(const CustomValue& a, const CustomValue& b) {
  return std::less<const void*>()(a.identity(), b.identity());
}

int EncodableValue::CompareValues(const EncodableValue& a,
                                  const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
  return std::visit(ContentComparer{b},
                    static_cast<const EncodableValueVariant&>(a));
}

}  // namespace flutter

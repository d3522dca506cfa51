// The value model of the platform channels: every argument, reply and event
// is an EncodableValue.

#ifndef SNAPFERRY_MESSAGING_ENCODABLE_VALUE_H_
#define SNAPFERRY_MESSAGING_ENCODABLE_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

// Sequence of values (alternative 10).
using ValueList = std::vector<EncodableValue>;
// Map ordered by the value ordering below (alternative 11): keys of a lower
// alternative first, then by content, so string keys iterate byte-wise.
using ValueMap = std::map<EncodableValue, EncodableValue>;

// An application-defined value of any copyable type, held type-erased on the
// heap. The held object keeps its address when the CustomValue is moved, so
// identity (which is what ordering and equality compare) survives moves; a
// copy holds a new object and so is a different value.
class CustomValue {
 public:
  template <typename T, typename = std::enable_if_t<
                            !std::is_same_v<std::decay_t<T>, CustomValue> &&
                            std::is_copy_constructible_v<std::decay_t<T>>>>
  explicit CustomValue(T&& value)
      : holder_(
            std::make_unique<Holder<std::decay_t<T>>>(std::forward<T>(value))) {
  }

  CustomValue(const CustomValue& other) : holder_(CloneOf(other)) {}
  CustomValue(CustomValue&&) noexcept = default;
  CustomValue& operator=(const CustomValue& other) {
    if (this != &other) holder_ = CloneOf(other);
    return *this;
  }
  CustomValue& operator=(CustomValue&&) noexcept = default;
  ~CustomValue() = default;

  // The held object if it is a T, otherwise nullptr.
  template <typename T>
  const T* TryGet() const {
    if (!holder_ || holder_->Type() != typeid(T)) return nullptr;
    return static_cast<const T*>(holder_->Get());
  }

  // Address of the held object: the value's identity (null once moved from).
  const void* identity() const { return holder_ ? holder_->Get() : nullptr; }

  friend bool operator<(const CustomValue& a, const CustomValue& b);
  friend bool operator==(const CustomValue& a, const CustomValue& b) {
    return a.identity() == b.identity();
  }
  friend bool operator!=(const CustomValue& a, const CustomValue& b) {
    return !(a == b);
  }

 private:
  struct HolderBase {
    virtual ~HolderBase() = default;
    virtual std::unique_ptr<HolderBase> Clone() const = 0;
    virtual const std::type_info& Type() const = 0;
    virtual const void* Get() const = 0;
  };
  template <typename T>
  struct Holder final : HolderBase {
    template <typename U>
    explicit Holder(U&& v) : value(std::forward<U>(v)) {}
    std::unique_ptr<HolderBase> Clone() const override {
      return std::make_unique<Holder<T>>(value);
    }
    const std::type_info& Type() const override { return typeid(T); }
    const void* Get() const override { return &value; }
    T value;
  };

  static std::unique_ptr<HolderBase> CloneOf(const CustomValue& other) {
    return other.holder_ ? other.holder_->Clone() : nullptr;
  }

  // Null only in a moved-from CustomValue.
  std::unique_ptr<HolderBase> holder_;
};

// The fourteen alternatives, in the order that the wire tags and the key
// ordering depend on. Never reorder.
using EncodableValueVariant =
    std::variant<std::monostate,        // 0 null
                 bool,                  // 1
                 int32_t,               // 2
                 int64_t,               // 3
                 double,                // 4
                 std::string,           // 5 byte string, UTF-8
                 std::vector<uint8_t>,  // 6 byte list
                 std::vector<int32_t>,  // 7 int32 list
                 std::vector<int64_t>,  // 8 int64 list
                 std::vector<double>,   // 9 double list
                 ValueList,             // 10
                 ValueMap,              // 11
                 CustomValue,           // 12
                 std::vector<float>>;   // 13 float list

// A tagged union of the alternatives above; index(), std::get and
// std::holds_alternative work on it as on the variant it derives from.
// Default-constructed, it is null.
class EncodableValue : public EncodableValueVariant {
 public:
  using EncodableValueVariant::EncodableValueVariant;

  EncodableValue() = default;

  // A narrow C string is text: without this the pointer would convert to
  // bool in preference to std::string.
  EncodableValue(const char* string)
      : EncodableValueVariant(string ? std::string(string) : std::string()) {}
  EncodableValue& operator=(const char* string) {
    *this = EncodableValue(string);
    return *this;
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // The value ordering: by alternative index, then by content (see the .cpp;
  // a NaN sorts after every number and is equivalent to every NaN, in
  // doubles and in the elements of double and float lists alike).
  friend bool operator<(const EncodableValue& a, const EncodableValue& b) {
    return CompareValues(a, b) < 0;
  }
  friend bool operator>(const EncodableValue& a, const EncodableValue& b) {
    return CompareValues(b, a) < 0;
  }
  friend bool operator<=(const EncodableValue& a, const EncodableValue& b) {
    return CompareValues(b, a) >= 0;
  }
  friend bool operator>=(const EncodableValue& a, const EncodableValue& b) {
    return CompareValues(a, b) >= 0;
  }

  // Equality of alternative and content (a NaN is unequal to itself, custom
  // values are equal only to themselves).
  friend bool operator==(const EncodableValue& a, const EncodableValue& b) {
    return static_cast<const EncodableValueVariant&>(a) ==
           static_cast<const EncodableValueVariant&>(b);
  }
  friend bool operator!=(const EncodableValue& a, const EncodableValue& b) {
    return !(a == b);
  }

  // Negative, zero or positive as a sorts before, equivalent to or after b.
  static int CompareValues(const EncodableValue& a, const EncodableValue& b);
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_ENCODABLE_VALUE_H_

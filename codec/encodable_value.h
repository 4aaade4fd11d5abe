#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

// Element order is significant and preserved.
using EncodableList = std::vector<EncodableValue>;

// Keys are unique under the value ordering; iteration is in ascending key
// order, which is also the order in which the codec writes the entries.
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// An application object of any copyable type, for serializers that extend
// the standard codec. The standard codec itself writes it as null.
class CustomEncodableValue {
 public:
  explicit CustomEncodableValue(const std::any& value) : value_(value) {}
  explicit CustomEncodableValue(std::any&& value) : value_(std::move(value)) {}

  const std::any& value() const { return value_; }
  std::any& value() { return value_; }
  const std::type_info& type() const noexcept { return value_.type(); }

  // Custom values have no meaningful order of their own; comparing their
  // addresses only makes them usable as keys. A copy is a different key.
  friend bool operator<(const CustomEncodableValue& lhs, const CustomEncodableValue& rhs) {
    return std::less<const CustomEncodableValue*>()(&lhs, &rhs);
  }
  friend bool operator==(const CustomEncodableValue& lhs, const CustomEncodableValue& rhs) {
    return &lhs == &rhs;
  }
  friend bool operator!=(const CustomEncodableValue& lhs, const CustomEncodableValue& rhs) {
    return !(lhs == rhs);
  }

 private:
  std::any value_;
};

namespace internal {
// The index of each alternative is its wire identity: the codec derives the
// type byte from it and the key ordering compares indexes first. Never reorder.
using EncodableValueVariant = std::variant<std::monostate,
                                           bool,
                                           int32_t,
                                           int64_t,
                                           double,
                                           std::string,
                                           std::vector<uint8_t>,
                                           std::vector<int32_t>,
                                           std::vector<int64_t>,
                                           std::vector<double>,
                                           EncodableList,
                                           EncodableMap,
                                           CustomEncodableValue,
                                           std::vector<float>>;
}  // namespace internal

// The value of every channel message. Read it with flutter::Get (strict:
// fails on another alternative) or std::get_if (null on another
// alternative); index() tells which alternative is held.
class EncodableValue : public internal::EncodableValueVariant {
 public:
  using super = internal::EncodableValueVariant;
  using super::super;
  using super::operator=;

  EncodableValue() = default;

  // Without this overload a character string literal would convert to bool.
  EncodableValue(const char* string) : super(std::string(string)) {}
  EncodableValue& operator=(const char* string) {
    super::operator=(std::string(string));
    return *this;
  }

  EncodableValue(const EncodableValue&) = default;
  EncodableValue(EncodableValue&&) = default;
  EncodableValue& operator=(const EncodableValue&) = default;
  EncodableValue& operator=(EncodableValue&&) = default;
  ~EncodableValue() = default;

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // Index first, then content: strings and byte lists compare bytes as
  // unsigned, numeric lists and nested lists lexicographically, maps entry by
  // entry (key, then value).
  friend bool operator<(const EncodableValue& lhs, const EncodableValue& rhs) {
    // Map keys are mostly strings: those are ordered here, without a call.
    const std::string* left = std::get_if<std::string>(&lhs);
    const std::string* right = std::get_if<std::string>(&rhs);
    if (left != nullptr && right != nullptr) return StringLess(*left, *right);
    return Compare(lhs, rhs) < 0;
  }
  friend bool operator>(const EncodableValue& lhs, const EncodableValue& rhs) { return rhs < lhs; }
  friend bool operator<=(const EncodableValue& lhs, const EncodableValue& rhs) { return !(rhs < lhs); }
  friend bool operator>=(const EncodableValue& lhs, const EncodableValue& rhs) { return !(lhs < rhs); }

  // Same alternative and equal content (doubles by ==, so NaN is unequal to
  // itself; custom values only to themselves).
  friend bool operator==(const EncodableValue& lhs, const EncodableValue& rhs) {
    return static_cast<const super&>(lhs) == static_cast<const super&>(rhs);
  }
  friend bool operator!=(const EncodableValue& lhs, const EncodableValue& rhs) { return !(lhs == rhs); }

 private:
  // Negative, zero or positive as lhs orders before, equivalent to or after
  // rhs. One pass over both values: deciding each position of a list or map
  // with two less-than tests would take time exponential in the nesting.
  static int Compare(const EncodableValue& lhs, const EncodableValue& rhs);

  // As std::string orders (unsigned bytes). Keys mostly differ in their first
  // byte; those are told apart here without the library's compare.
  static bool StringLess(const std::string& lhs, const std::string& rhs) {
    if (!lhs.empty() && !rhs.empty() && lhs[0] != rhs[0]) {
      return static_cast<unsigned char>(lhs[0]) < static_cast<unsigned char>(rhs[0]);
    }
    return lhs < rhs;
  }
};

// What strict access fails with: the standard variant-access error, with the
// same text whatever the standard library ("bad variant access"). That text
// reaches the error lines of a handler that read the wrong alternative, where
// std::get would leave a library's own wording.
class BadVariantAccess : public std::bad_variant_access {
 public:
  const char* what() const noexcept override { return "bad variant access"; }
};

// Strict access: the content of alternative T, or BadVariantAccess when the
// value holds another one (the value is then unchanged).
template <typename T>
const T& Get(const EncodableValue& value) {
  const T* content = std::get_if<T>(&value);
  if (content == nullptr) throw BadVariantAccess();
  return *content;
}

template <typename T>
T& Get(EncodableValue& value) {
  T* content = std::get_if<T>(&value);
  if (content == nullptr) throw BadVariantAccess();
  return *content;
}

}  // namespace flutter

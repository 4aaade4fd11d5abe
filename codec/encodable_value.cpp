#include "codec/encodable_value.h"

#include <algorithm>
#include <cstring>

namespace flutter {

namespace {

template <typename T>
int CompareScalars(const T& lhs, const T& rhs) {
  if (lhs < rhs) return -1;
  if (rhs < lhs) return 1;
  return 0;  // equal, or unordered (NaN), which counts as equivalent
}

// Lexicographic; a list that is a prefix of the other orders first.
template <typename T, typename CompareElements>
int CompareSequences(const T& lhs, const T& rhs, CompareElements compare) {
  auto left = lhs.begin();
  auto right = rhs.begin();
  for (; left != lhs.end() && right != rhs.end(); ++left, ++right) {
    const int result = compare(*left, *right);
    if (result != 0) return result;
  }
  return CompareScalars(lhs.size(), rhs.size());
}

template <typename T>
int CompareNumbers(const std::vector<T>& lhs, const std::vector<T>& rhs) {
  return CompareSequences(lhs, rhs, CompareScalars<T>);
}

int CompareBytes(const std::vector<uint8_t>& lhs, const std::vector<uint8_t>& rhs) {
  const size_t common = std::min(lhs.size(), rhs.size());
  if (common > 0) {
    const int result = std::memcmp(lhs.data(), rhs.data(), common);  // unsigned bytes
    if (result != 0) return result < 0 ? -1 : 1;
  }
  return CompareScalars(lhs.size(), rhs.size());
}

}  // namespace

int EncodableValue::Compare(const EncodableValue& lhs, const EncodableValue& rhs) {
  if (lhs.index() != rhs.index()) return lhs.index() < rhs.index() ? -1 : 1;
  switch (lhs.index()) {
    case 0:
      return 0;
    case 1:
      return CompareScalars(std::get<bool>(lhs), std::get<bool>(rhs));
    case 2:
      return CompareScalars(std::get<int32_t>(lhs), std::get<int32_t>(rhs));
    case 3:
      return CompareScalars(std::get<int64_t>(lhs), std::get<int64_t>(rhs));
    case 4:
      return CompareScalars(std::get<double>(lhs), std::get<double>(rhs));
    case 5: {
      // char_traits<char> compares as unsigned char, past NUL bytes.
      const int result = std::get<std::string>(lhs).compare(std::get<std::string>(rhs));
      return result < 0 ? -1 : (result > 0 ? 1 : 0);
    }
    case 6:
      return CompareBytes(std::get<std::vector<uint8_t>>(lhs), std::get<std::vector<uint8_t>>(rhs));
    case 7:
      return CompareNumbers(std::get<std::vector<int32_t>>(lhs), std::get<std::vector<int32_t>>(rhs));
    case 8:
      return CompareNumbers(std::get<std::vector<int64_t>>(lhs), std::get<std::vector<int64_t>>(rhs));
    case 9:
      return CompareNumbers(std::get<std::vector<double>>(lhs), std::get<std::vector<double>>(rhs));
    case 10:
      return CompareSequences(std::get<EncodableList>(lhs), std::get<EncodableList>(rhs), Compare);
    case 11:
      return CompareSequences(std::get<EncodableMap>(lhs), std::get<EncodableMap>(rhs),
                              [](const EncodableMap::value_type& left, const EncodableMap::value_type& right) {
                                const int keys = Compare(left.first, right.first);
                                return keys != 0 ? keys : Compare(left.second, right.second);
                              });
    case 12:
      return CompareScalars(std::get<CustomEncodableValue>(lhs), std::get<CustomEncodableValue>(rhs));
    case 13:
      return CompareNumbers(std::get<std::vector<float>>(lhs), std::get<std::vector<float>>(rhs));
    default:
      return 0;
  }
}

}  // namespace flutter

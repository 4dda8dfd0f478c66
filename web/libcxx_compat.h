// What Debian's Emscripten (3.1.6) lacks of the C++20 standard library that
// the library uses, put into every translation unit of the web build by
// -include (web/CMakeLists.txt), so that lib/ stays plain C++20.
#ifndef DBGPARSE_WEB_LIBCXX_COMPAT_H
#define DBGPARSE_WEB_LIBCXX_COMPAT_H

#include <algorithm>
#include <iterator>
#include <memory>
#include <ranges>
#include <type_traits>

#if defined(_LIBCPP_VERSION) && !defined(__cpp_lib_smart_ptr_for_overwrite)
namespace std {
// The array form, the one the library uses: default-initialised bytes.
template <class T>
requires is_unbounded_array_v<T> unique_ptr<T> make_unique_for_overwrite(size_t size) {
  return unique_ptr<T>(new remove_extent_t<T>[size]);
}
}  // namespace std
#endif

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 15000
namespace std::ranges {
// std::ranges::equal of two ranges, without projections or a predicate.
inline constexpr auto equal = [](auto&& a, auto&& b) {
  return std::equal(std::ranges::begin(a), std::ranges::end(a), std::ranges::begin(b),
                    std::ranges::end(b));
};
}  // namespace std::ranges
#endif

#endif

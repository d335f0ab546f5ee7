// Template definitions of UDFUtils.h.
#include <algorithm>

#include "engine/image/UDFUnicode.h"

namespace kilnor {

template <std::size_t N>
TDString<N> DStringFromCS0(std::span<const std::uint8_t> cs0) {
  TDString<N> field{};
  const std::size_t used = std::min(cs0.size(), N - 1);
  std::copy_n(cs0.begin(), used, field.begin());
  field[N - 1] = static_cast<std::uint8_t>(used);
  return field;
}

template <std::size_t N>
TDString<N> MakeDString(std::u16string_view text) {
  TDString<N> field{};
  if (text.empty()) return field;
  const std::u16string_view kept = FittingPrefix(text, N - 1);
  const auto compression = ChooseCompression(kept, N - 1);
  const std::size_t used = CompressUnicode(kept, *compression, std::span(field).first(N - 1));
  field[N - 1] = static_cast<std::uint8_t>(used);
  return field;
}

}  // namespace kilnor

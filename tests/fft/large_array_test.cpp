// The storage of large temporaries (fft/engine/large_array.h): every size gets a
// usable, aligned block of its own, huge ones on 2 MiB boundaries, and the huge-page
// advice never reaches outside the range it is given.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fft/engine/large_array.h"

namespace {

TEST(LargeFloats, EverySizeIsUsableAlignedAndDistinct) {
  const std::size_t huge = kHugeArrayBytes / sizeof(float);
  for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{1000}, huge - 1, huge, 2 * huge + 3}) {
    SCOPED_TRACE(count);
    vc_LargeFloats a(count), b(count);
    ASSERT_NE(a.data(), nullptr);
    const auto address = reinterpret_cast<std::uintptr_t>(a.data());
    EXPECT_EQ(address % 16, 0u);
    if (count >= huge) {
      EXPECT_EQ(address % kHugeArrayBytes, 0u);
    }
    // The whole range is writable and belongs to this block alone.
    for (std::size_t i = 0; i < count; ++i) a.data()[i] = static_cast<float>(i);
    for (std::size_t i = 0; i < count; ++i) b.data()[i] = -1.0f;
    for (std::size_t i = 0; i < count; i += 4099) ASSERT_EQ(a.data()[i], static_cast<float>(i));
    if (count > 0) {
      EXPECT_EQ(a.data()[count - 1], static_cast<float>(count - 1));
    }
  }
}

// The advice is only a hint: it changes no data, for ranges that start unaligned or
// hold no whole 2 MiB block as for others, and a null pointer is ignored.
TEST(LargeFloats, AdviceLeavesDataAlone) {
  std::vector<float> values(3 * kHugeArrayBytes / sizeof(float));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i % 977);
  const std::vector<float> before = values;
  vf_AdviseHugePages(values.data() + 1, 1000);
  vf_AdviseHugePages(values.data() + 3, values.size() * sizeof(float) - 100);
  vf_AdviseHugePages(nullptr, 1u << 30);
  EXPECT_EQ(std::memcmp(values.data(), before.data(), values.size() * sizeof(float)), 0);
}

}  // namespace

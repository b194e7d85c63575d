// Images: handle sharing, row layout, windows, refusals and the position-based copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "vexstd/pelbuffer.h"

namespace {

using Img8 = vcPelBuffer<unsigned char>;

// Distinct values, so that a pixel landing in the wrong place is noticed.
template <class T>
void fillPattern(vcPelBuffer<T>& img, int salt = 0) {
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x) img.set(x, y, static_cast<T>((salt + 16 * y + x) % 251));
}

template <class T>
std::vector<T> snapshot(const vcPelBuffer_const<T>& img) {
  std::vector<T> v;
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x) v.push_back(img.get(x, y));
  return v;
}

template <class T>
void checkLayout(long width, long alignment, long stride) {
  SCOPED_TRACE(testing::Message() << width << " x " << sizeof(T) << " bytes, alignment " << alignment);
  vcPelBuffer<T> img(width, 3, alignment);
  EXPECT_EQ(img.rep().rowStride(), stride);
  const auto addr = reinterpret_cast<std::uintptr_t>(img.pointToOffset());
  EXPECT_EQ(addr % static_cast<std::uintptr_t>(std::max<long>(alignment, sizeof(T))), 0u);
  img.set(width - 1, 2, T(7));  // get/set and the raw pointer agree on where row y starts
  EXPECT_EQ(img.pointToOffset()[2 * stride + width - 1], T(7));
  vfPelSet(img, T(3));  // a fill reaches every pixel but no padding between rows
  for (long y = 0; y < 3; ++y)
    for (long x = 0; x < stride; ++x) EXPECT_EQ(img.pointToOffset()[y * stride + x], x < width ? T(3) : T(0));
}

TEST(PelBufferTest, WindowsSharePixelsAndKeepTheirPositions) {
  Img8 parent(10, 8);
  parent.offset(100, 200);
  fillPattern(parent);
  Img8 win(parent, 2, 3, 5, 4);
  EXPECT_EQ(win.offset(), vcPair<long>(102, 203));
  EXPECT_EQ(win.rep().rowStride(), parent.rep().rowStride());
  EXPECT_EQ(win.pointToOffset(), parent.pointToOffset() + 3 * parent.rep().rowStride() + 2);
  EXPECT_EQ(win.get(4, 3), parent.get(6, 6));
  win.set(0, 0, 250);
  EXPECT_EQ(parent.get(2, 3), 250);

  // A window of a window adds up the corners and still reaches the pixels.
  Img8 inner(win, 1, 1, 2, 2);
  EXPECT_EQ(inner.offset(), vcPair<long>(103, 204));
  inner.set(1, 1, 17);
  EXPECT_EQ(parent.get(4, 5), 17);

  // A fill of the window stays inside its rectangle (the pattern never reaches 200).
  vfPelSet(win, static_cast<unsigned char>(200));
  for (long y = 0; y < 8; ++y)
    for (long x = 0; x < 10; ++x)
      EXPECT_EQ(parent.get(x, y) == 200, x >= 2 && x < 7 && y >= 3 && y < 7) << x << "," << y;

  // Read-only windows follow the same rules.
  const vcPelBuffer_const<unsigned char>& cparent = parent;
  vcPelBuffer_const<unsigned char> cwin(cparent, 8, 0, 2, 2);
  EXPECT_EQ(cwin.offset(), vcPair<long>(108, 200));
  EXPECT_EQ(cwin.get(1, 1), parent.get(9, 1));
}

// What vfPelCopy must leave in dst: where a source pixel stands at the same position,
// that pixel, else the old value.
template <class S, class D>
std::vector<D> expectedCopy(const vcPelBuffer_const<S>& src, const vcPelBuffer_const<D>& dst) {
  std::vector<D> out;
  for (long y = 0; y < dst.height(); ++y)
    for (long x = 0; x < dst.width(); ++x) {
      const long sx = dst.offset().x + x - src.offset().x, sy = dst.offset().y + y - src.offset().y;
      const bool covered = sx >= 0 && sy >= 0 && sx < src.width() && sy < src.height();
      out.push_back(covered ? static_cast<D>(src.get(sx, sy)) : dst.get(x, y));
    }
  return out;
}

TEST(PelCopyTest, CopiesBetweenEqualPositionsOnly) {
  const long cases[][8] = {{4, 3, 0, 0, 4, 3, 0, 0}, {4, 3, 0, 0, 4, 3, 1, 2},    {4, 3, 1, 2, 4, 3, 0, 0},
                           {3, 2, 0, 0, 6, 5, 2, 1}, {6, 5, -2, -1, 3, 2, 0, 0},  {5, 5, -3, 4, 4, 6, -5, 2},
                           {4, 3, 0, 0, 4, 3, 4, 0}, {4, 3, 0, 0, 4, 3, -10, -10}};
  for (const auto& c : cases) {  // source size and offset, destination size and offset
    SCOPED_TRACE(testing::Message() << "source at " << c[2] << "," << c[3] << ", target at " << c[6] << "," << c[7]);
    Img8 src(c[0], c[1]), dst(c[4], c[5], 1);  // different strides on purpose
    src.offset(c[2], c[3]);
    dst.offset(c[6], c[7]);
    fillPattern(src, 1);
    vfPelSet(dst, static_cast<unsigned char>(255));
    const auto expected = expectedCopy<unsigned char, unsigned char>(src, dst);
    vfPelCopy(src, dst);
    EXPECT_EQ(snapshot<unsigned char>(dst), expected);
    // The converting copy places pixels by the same rule.
    vcPelBuffer<double> dd(c[4], c[5]);
    dd.offset(c[6], c[7]);
    vfPelSet(dd, -1.0);
    const auto expectedD = expectedCopy<unsigned char, double>(src, dd);
    vfPelCopy(src, dd);
    EXPECT_EQ(snapshot<double>(dd), expectedD);
  }
}

// Two windows of one parent, the destination shifted by (dx, dy) but given the source's
// offset, so the copy moves pixels inside one store with the regions overlapping in
// memory. The result must be as if the source were read first.
TEST(PelCopyTest, OverlappingCopiesBehaveLikeMemmove) {
  for (auto [dx, dy] : {std::pair{1L, 0L},
                        {-1L, 0L},
                        {0L, 1L},
                        {0L, -1L},
                        {1L, 1L},
                        {-1L, -1L},
                        {1L, -1L},
                        {-1L, 1L},
                        {3L, 2L},
                        {-3L, -2L}})
    for (long alignment : {1L, 32L}) {
      vcPelBuffer<unsigned short> parent(12, 10, alignment);
      fillPattern(parent);
      const long sx = 3, sy = 3, w = 6, h = 4;
      vcPelBuffer<unsigned short> src(parent, sx, sy, w, h), dst(parent, sx + dx, sy + dy, w, h);
      dst.offset(src.offset());
      const auto before = snapshot<unsigned short>(parent);
      vfPelCopy(src, dst);
      for (long y = 0; y < 10; ++y)
        for (long x = 0; x < 12; ++x) {
          const long u = x - sx - dx, v = y - sy - dy;
          const bool inDst = u >= 0 && v >= 0 && u < w && v < h;
          ASSERT_EQ(parent.get(x, y), inDst ? before[(sy + v) * 12 + sx + u] : before[y * 12 + x])
              << "shift " << dx << "," << dy << " align " << alignment << " at " << x << "," << y;
        }
    }
}

}  // namespace

// The engine's attention polls: where they happen and what an abort leaves behind.
#include "fft/engine/engine.h"
#include "support/engine_arrays.h"
#include "support/reference_fft.h"

#include <vexstd/exception.h>
#include <vexsys/attention.h>

using engine_test::sameBits;
using engine_test::testArray;

namespace {

struct PollCase
{
    bool real;
    long w, h, bandMin, bandMax;
    long polls; // counted by hand: see below
    friend void PrintTo(const PollCase& c, std::ostream* os)
    {
        *os << (c.real ? "real " : "complex ") << c.w << "x" << c.h << " band " << c.bandMin << ".." << c.bandMax;
    }
};

// Terms in pass order: first-pass rows transformed at indices that are multiples of 16,
// transpose (tiled only), second-pass rows likewise, transpose back, symmetric fill.
const PollCase kCases[] = {
    {false, 64, 64, 0, 64, 4 + 1 + 4 + 1}, {false, 32, 8, 0, 8, 1 + 1 + 2 + 1},   {false, 2, 64, 0, 64, 4 + 0 + 1 + 0},
    {false, 1, 64, 0, 64, 4 + 1},          {false, 64, 1, 0, 1, 1 + 4},           {false, 1, 1, 0, 1, 1 + 1},
    {false, 4, 4, 0, 4, 1 + 1 + 1 + 1},    {false, 64, 64, 30, 33, 1 + 1 + 4 + 1}, {false, 64, 64, 0, 20, 2 + 1 + 4 + 1},
    {false, 64, 64, 5, 2, 0 + 1 + 4 + 1},  {true, 64, 64, 0, 0, 4 + 1 + 3 + 1 + 1}, {true, 32, 8, 0, 0, 1 + 1 + 2 + 1 + 1},
    {true, 1, 64, 0, 0, 1 + 1},            {true, 64, 1, 0, 0, 1 + 3 + 1},        {true, 4, 4, 0, 0, 1 + 0 + 1 + 0 + 1},
    {true, 8, 8, 0, 0, 1 + 1 + 1 + 1 + 1},
};

std::vector<float> run(const PollCase& c, std::vector<float> a, bool reference = false)
{
    if (c.real) {
        (reference ? reference::realFFT2D : vf_RealFFT2D)(a.data(), c.w, c.h);
    } else {
        (reference ? reference::complexFFT2D : vf_ComplexFFT2D)(a.data(), c.w, c.h, -1, c.bandMin, c.bandMax);
    }
    return a;
}

class EnginePolls : public ::testing::TestWithParam<PollCase>
{
protected:
    void TearDown() override { vsys_fail_poll_after(0, 0); }
};

TEST_P(EnginePolls, PollCountFollowsTheCadence)
{
    const long before = vsys_attention_polls();
    run(GetParam(), testArray(GetParam().w, GetParam().h, 1));
    EXPECT_EQ(vsys_attention_polls() - before, GetParam().polls);
}

// Failing the k-th poll, for every k, leaves by the platform's exception; the next call
// on a fresh array is unaffected.
TEST_P(EnginePolls, FailingAnyPollLeavesCleanly)
{
    const PollCase& c = GetParam();
    const std::vector<float> fresh = testArray(c.w, c.h, 2);
    const std::vector<float> want = run(c, fresh, true);
    for (long k = 1; k <= c.polls; ++k) {
        vsys_fail_poll_after(k, k == c.polls ? VSYS_TIMED_OUT : VSYS_ABORTED);
        if (k == c.polls) {
            EXPECT_THROW(run(c, fresh), vcTimedOut) << "poll " << k;
        } else {
            EXPECT_THROW(run(c, fresh), vcAbortRequested) << "poll " << k;
        }
        EXPECT_TRUE(sameBits(run(c, fresh), want)) << "after failing poll " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EnginePolls, ::testing::ValuesIn(kCases));

} // namespace

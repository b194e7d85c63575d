// The engine's attention polls: where they happen and what an abort leaves behind.
#include "filt/fft/engine/engine.h"
#include "support/engine_arrays.h"
#include "support/reference_fft.h"

#include <vexstd/exception.h>
#include <vexsys/attention.h>

using engine_test::randomArray;
using engine_test::realInput;
using engine_test::sameBits;

namespace {

struct PollCase
{
    bool real;
    long w, h, bandMin, bandMax;
    long polls; // counted by hand from the cadence rules
};

void PrintTo(const PollCase& c, std::ostream* os)
{
    *os << (c.real ? "real " : "complex ") << c.w << "x" << c.h << " band " << c.bandMin << ".."
        << c.bandMax;
}

// A row is polled before it is transformed when its index is a multiple of 16, each
// tiled transpose and the symmetric fill poll once, skipped rows never.
const PollCase kCases[] = {
    {false, 64, 64, 0, 64, 4 + 1 + 4 + 1},  {false, 32, 8, 0, 8, 1 + 1 + 2 + 1},
    {false, 2, 64, 0, 64, 4 + 0 + 1 + 0},   {false, 1, 64, 0, 64, 4 + 1},
    {false, 64, 1, 0, 1, 1 + 4},            {false, 1, 1, 0, 1, 1 + 1},
    {false, 4, 4, 0, 4, 1 + 1 + 1 + 1},     {false, 64, 64, 30, 33, 1 + 1 + 4 + 1},
    {false, 64, 64, 0, 20, 2 + 1 + 4 + 1},  {false, 64, 64, 5, 2, 0 + 1 + 4 + 1},
    {true, 64, 64, 0, 0, 4 + 1 + 3 + 1 + 1}, {true, 32, 8, 0, 0, 1 + 1 + 2 + 1 + 1},
    {true, 1, 64, 0, 0, 1 + 1},             {true, 64, 1, 0, 0, 1 + 3 + 1},
    {true, 4, 4, 0, 0, 1 + 0 + 1 + 0 + 1},  {true, 8, 8, 0, 0, 1 + 1 + 1 + 1 + 1},
};

void run(const PollCase& c, std::vector<float>& a)
{
    if (c.real) {
        vf_RealFFT2D(a.data(), c.w, c.h);
    } else {
        vf_ComplexFFT2D(a.data(), c.w, c.h, -1, c.bandMin, c.bandMax);
    }
}

std::vector<float> expected(const PollCase& c, std::vector<float> a)
{
    if (c.real) {
        reference::realFFT2D(a.data(), c.w, c.h);
    } else {
        reference::complexFFT2D(a.data(), c.w, c.h, -1, c.bandMin, c.bandMax);
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
    const PollCase& c = GetParam();
    std::vector<float> a = realInput(c.w, c.h, 1);
    const long before = vsys_attention_polls();
    run(c, a);
    EXPECT_EQ(vsys_attention_polls() - before, c.polls);
}

// Failing the k-th poll for every k leaves by the platform's exception; the next call
// on a fresh array is unaffected.
TEST_P(EnginePolls, AbortAtEveryPollLeavesCleanly)
{
    const PollCase& c = GetParam();
    const std::vector<float> fresh = realInput(c.w, c.h, 2);
    const std::vector<float> want = expected(c, fresh);
    for (long k = 1; k <= c.polls; ++k) {
        std::vector<float> a = fresh;
        vsys_fail_poll_after(k, k == c.polls ? VSYS_TIMED_OUT : VSYS_ABORTED);
        if (k == c.polls) {
            EXPECT_THROW(run(c, a), vcTimedOut) << "poll " << k;
        } else {
            EXPECT_THROW(run(c, a), vcAbortRequested) << "poll " << k;
        }
        a = fresh;
        run(c, a);
        EXPECT_TRUE(sameBits(a, want)) << "after failing poll " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EnginePolls, ::testing::ValuesIn(kCases));

} // namespace

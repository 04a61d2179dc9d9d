// Depth sort of the deferred polygons: descending, stable, 16- and 32-bit keys.
#include "kestra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

class SortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = ksGlobal;
        keys_.assign(kCapacity, 0);
        work1_.assign(kCapacity, -1);
        work2_.assign(kCapacity, -1);
        order_.assign(kCapacity, -1);
        ksGlobal.polygonCapacity = kCapacity;
        ksGlobal.sortKeys = keys_.data();
        ksGlobal.sortWork1 = work1_.data();
        ksGlobal.sortWork2 = work2_.data();
        ksGlobal.sortOrder = order_.data();
    }
    void TearDown() override { ksGlobal = saved_; }
    std::vector<int32_t> Order(int n) const { return std::vector<int32_t>(order_.begin(), order_.begin() + n); }

    static const int kCapacity = 1000;
    KSGlobal saved_;
    std::vector<int32_t> keys_, work1_, work2_, order_;
};

TEST_F(SortTest, FarthestFirstAndEqualKeysKeepQueueOrder)
{
    keys_[0] = 5;
    keys_[1] = 300;
    keys_[2] = 5;
    KS_SortKeys16(3);
    EXPECT_EQ(Order(3), (std::vector<int32_t>{1, 0, 2}));
    KS_SortKeys32(3);
    EXPECT_EQ(Order(3), (std::vector<int32_t>{1, 0, 2}));
}

TEST_F(SortTest, SixteenBitKeysUseOnlyTheLowBits)
{
    keys_[0] = 65536;    // sorts as 0
    keys_[1] = 65537;    // sorts as 1
    keys_[2] = 2;
    keys_[3] = 0x12345;  // sorts as 0x2345
    KS_SortKeys16(4);
    EXPECT_EQ(Order(4), (std::vector<int32_t>{3, 2, 1, 0}));
    KS_SortKeys32(4);
    EXPECT_EQ(Order(4), (std::vector<int32_t>{3, 1, 0, 2}));
}

TEST_F(SortTest, NegativeKeysComeFirstInThe32BitSort)
{
    keys_[0] = 7;
    keys_[1] = -1;
    keys_[2] = 0x7FFFFFFF;
    keys_[3] = -100;
    keys_[4] = 0;
    KS_SortKeys32(5);
    EXPECT_EQ(Order(5), (std::vector<int32_t>{1, 3, 2, 0, 4}));
}

TEST_F(SortTest, EmptyAndOversizedCounts)
{
    KS_SortKeys16(0);
    KS_SortKeys32(-3);
    EXPECT_EQ(order_[0], -1) << "n = 0 must leave the order untouched";
    // A count beyond the arrays is cut to their capacity instead of running past them.
    for (int i = 0; i < kCapacity; i++)
        keys_[i] = i;
    KS_SortKeys16(kCapacity + 50);
    EXPECT_EQ(order_[0], kCapacity - 1);
    EXPECT_EQ(order_[kCapacity - 1], 0);
    // Without arrays nothing happens.
    ksGlobal.sortOrder = nullptr;
    KS_SortKeys32(3);
}

TEST_F(SortTest, AgreesWithAStableDescendingSortOnManyKeys)
{
    uint32_t seed = 12345;
    for (int i = 0; i < kCapacity; i++) {
        seed = seed * 1103515245u + 12345u;
        keys_[i] = (int32_t)(seed >> 1) % 5000 - 1000;   // repeats and negatives
    }
    std::vector<int32_t> expected(kCapacity);
    for (int i = 0; i < kCapacity; i++)
        expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](int32_t a, int32_t b) { return (uint32_t)keys_[a] > (uint32_t)keys_[b]; });
    KS_SortKeys32(kCapacity);
    EXPECT_EQ(Order(kCapacity), expected);

    for (int i = 0; i < kCapacity; i++)
        expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(), [&](int32_t a, int32_t b) {
        return ((uint32_t)keys_[a] & 0xFFFF) > ((uint32_t)keys_[b] & 0xFFFF);
    });
    KS_SortKeys16(kCapacity);
    EXPECT_EQ(Order(kCapacity), expected);
}

}  // namespace

// The byte containers: bounds checks, their order, their messages, and zero-filled memory.
#include "DynArrB.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::HasSubstr;

// Under AddressSanitizer a refused allocation must come back as a null pointer, as it does from
// the C library, instead of aborting the test run.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

const char* const OutOfBounds = "Dynamic array index out of bounds";

template <typename E, typename F>
std::string MessageOf(F&& action)
{
    try {
        action();
    } catch (const E& error) {
        return error.what();
    }
    return "<no exception>";
}

std::unique_ptr<TBigByteArray> Filled(std::int64_t size)
{
    auto array = std::make_unique<TBigByteArray>(size);
    for (std::int64_t i = 1; i <= size; ++i)
        array->SetItem(i, static_cast<std::uint8_t>(10 * i));
    return array;
}

} // namespace

TEST(BigByteArray, IndexesFromOneAndChecksBothEnds)
{
    TBigByteArray array(3);
    array.SetItem(1, 7);
    array.SetItem(3, 9);
    EXPECT_EQ(array.GetItem(1), 7);
    EXPECT_EQ(array.GetItem(3), 9);
    EXPECT_EQ(array.Memory()[2], 9);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { array.GetItem(0); }), OutOfBounds);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { array.GetItem(4); }), OutOfBounds);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { array.SetItem(4, 1); }), OutOfBounds);
}

TEST(BigByteArray, SizeZeroHasNoBlockAndNoElements)
{
    TBigByteArray empty(0);
    EXPECT_EQ(empty.Size, 0);
    EXPECT_EQ(empty.Data, nullptr);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { empty.GetItem(1); }), OutOfBounds);
}

TEST(BigByteArray, NewMemoryReadsAsZero)
{
    TBigByteArray array(100000);
    for (std::int64_t i = 1; i <= array.Size; i += 997)
        ASSERT_EQ(array.GetItem(i), 0);
}

TEST(BigByteArray, RefusedBlockNamesTheRequestedSizeInPlainDigits)
{
    const std::int64_t huge = std::int64_t{1} << 60;
    EXPECT_EQ(MessageOf<ENotEnoughMemory>([&] { TBigByteArray array(huge); }),
              "error in TBigByteArray.create: Not enough contiguous memory available\r\n"
              " requested memory block: 1152921504606846976 bytes");
}

TEST(ByteArray2D, MatrixSizeIsNotWrappedIn32Bits)
{
    // 65536 * 32768 is 2^31, negative as a 32-bit product.
    try {
        TByteArray2D matrix(65536, 32768);
        EXPECT_EQ(matrix.Items->Size, std::int64_t{1} << 31);
    } catch (const ENotEnoughMemory& error) {
        EXPECT_THAT(error.what(), HasSubstr("requested memory block: 2147483648 bytes"));
    }
}

TEST(ByteArray2D, ElementAccessTestsOnlyTheFlattenedIndex)
{
    TByteArray2D matrix(3, 2);
    auto row2 = Filled(3);
    matrix.SetRow(2, *row2);
    EXPECT_EQ(matrix.GetItem(4, 1), 10); // column beyond the row reads the next row
    EXPECT_EQ(matrix.GetItem(3, 2), 30);
    EXPECT_EQ(matrix.GetItem(1, 1), 0);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { matrix.GetItem(1, 3); }), OutOfBounds);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { matrix.GetRow(3); }), OutOfBounds);
}

TEST(ByteArray2D, GetRowReturnsAnIndependentCopy)
{
    TByteArray2D matrix(3, 2);
    matrix.SetRow(1, *Filled(3));
    auto copy = matrix.GetRow(1);
    ASSERT_EQ(copy->Size, 3);
    EXPECT_EQ(copy->GetItem(2), 20);
    copy->SetItem(2, 99);
    EXPECT_EQ(matrix.GetItem(2, 1), 20);
    EXPECT_EQ(TByteArray2D(0, 5).GetRow(1)->Size, 0);
}

TEST(ByteArray2D, SetRowChecksTheRowBeforeTheLengthAndChangesNothingOnFailure)
{
    TByteArray2D matrix(3, 2);
    auto wrongLength = Filled(4);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { matrix.SetRow(0, *wrongLength); }), OutOfBounds);
    EXPECT_EQ(MessageOf<EIndexOutOfBounds>([&] { matrix.SetRow(3, *wrongLength); }), OutOfBounds);
    try {
        matrix.SetRow(1, *wrongLength);
        ADD_FAILURE() << "no exception";
    } catch (const EIndexOutOfBounds&) {
        ADD_FAILURE() << "length error must not be an index error";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), "Row doesn't have equal number of elements as Matrix row");
    }
    for (int c = 1; c <= 3; ++c)
        EXPECT_EQ(matrix.GetItem(c, 1), 0);
}

// The handle owner with a close call that records what it was given: every
// handle is closed exactly once, empty values never, whichever way ownership
// moves.
#include "common/win/unique_handle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qx::win {
namespace {

std::vector<void*> g_closed;
std::vector<int> g_closed_ints;

// Returns a status like the Win32 close calls; the owner ignores it.
int FakeClose(void* handle) {
    g_closed.push_back(handle);
    return 0;
}
void FakeCloseInt(int handle) {
    g_closed_ints.push_back(handle);
}

void* H(std::intptr_t value) {
    return reinterpret_cast<void*>(value);
}
void* const kAllOnes = H(-1);

using NullOwner = UniqueAny<void*, &FakeClose>;
using NullEmptyOwner = UniqueAny<void*, &FakeClose, NullOrAllOnesIsInvalid<false>>;
using AllOnesEmptyOwner = UniqueAny<void*, &FakeClose, NullOrAllOnesIsInvalid<true>>;
using SocketOwner = UniqueAny<int, &FakeCloseInt, AllOnesIsInvalid>;

class UniqueHandleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_closed.clear();
        g_closed_ints.clear();
    }
};

TEST_F(UniqueHandleTest, ClosesOnceWhenItGoesOutOfScope) {
    {
        NullOwner owner(H(0x10));
        EXPECT_TRUE(owner);
        EXPECT_EQ(owner.get(), H(0x10));
        EXPECT_TRUE(g_closed.empty());
    }
    EXPECT_EQ(g_closed, std::vector<void*>{H(0x10)});
}

TEST_F(UniqueHandleTest, EmptyValuesAreNeverClosed) {
    // What each policy treats as "nothing", and what an empty owner reports.
    {
        NullOwner a;
        NullEmptyOwner b;
        AllOnesEmptyOwner c;
        SocketOwner d;
        EXPECT_FALSE(a);
        EXPECT_FALSE(b);
        EXPECT_FALSE(c);
        EXPECT_FALSE(d);
        EXPECT_EQ(a.get(), nullptr);
        EXPECT_EQ(b.get(), nullptr);
        EXPECT_EQ(c.get(), kAllOnes);
        EXPECT_EQ(d.get(), -1);
    }
    {
        // Both failure values of the kernel-handle calls, in either owner.
        NullEmptyOwner b1(nullptr), b2(kAllOnes);
        AllOnesEmptyOwner c1(nullptr), c2(kAllOnes);
        EXPECT_FALSE(b1);
        EXPECT_FALSE(b2);
        EXPECT_FALSE(c1);
        EXPECT_FALSE(c2);
    }
    EXPECT_TRUE(g_closed.empty());
    {
        // Where only one value is empty, the other one is a handle like any.
        NullOwner a(kAllOnes);
        SocketOwner d(0);
        EXPECT_TRUE(a);
        EXPECT_TRUE(d);
    }
    EXPECT_EQ(g_closed, std::vector<void*>{kAllOnes});
    EXPECT_EQ(g_closed_ints, std::vector<int>{0});
}

TEST_F(UniqueHandleTest, MoveHandsOverWithoutClosing) {
    {
        NullOwner first(H(0x10));
        NullOwner second(std::move(first));
        EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
        EXPECT_EQ(second.get(), H(0x10));
        EXPECT_TRUE(g_closed.empty());

        AllOnesEmptyOwner file(H(0x20));
        AllOnesEmptyOwner other(std::move(file));
        // A moved-from owner reports its own empty value, as after release().
        EXPECT_EQ(file.get(), kAllOnes);  // NOLINT(bugprone-use-after-move)
    }
    EXPECT_EQ(g_closed, (std::vector<void*>{H(0x20), H(0x10)}));
}

TEST_F(UniqueHandleTest, MoveAssignmentClosesWhatWasHeld) {
    NullOwner target(H(0x10));
    NullOwner source(H(0x20));
    target = std::move(source);
    EXPECT_EQ(g_closed, std::vector<void*>{H(0x10)});
    EXPECT_EQ(target.get(), H(0x20));
    EXPECT_FALSE(source);  // NOLINT(bugprone-use-after-move)

    // Onto itself: nothing closed, nothing lost.
    NullOwner& alias = target;
    target = std::move(alias);
    EXPECT_EQ(target.get(), H(0x20));
    EXPECT_EQ(g_closed.size(), 1u);
}

TEST_F(UniqueHandleTest, ReleaseGivesUpOwnership) {
    void* released = nullptr;
    {
        NullEmptyOwner owner(H(0x30));
        released = owner.release();
        EXPECT_FALSE(owner);
        EXPECT_EQ(owner.get(), nullptr);
        AllOnesEmptyOwner file(H(0x40));
        EXPECT_EQ(file.release(), H(0x40));
        EXPECT_EQ(file.get(), kAllOnes);
    }
    EXPECT_EQ(released, H(0x30));
    EXPECT_TRUE(g_closed.empty());
}

TEST_F(UniqueHandleTest, ResetClosesTheOldValueFirst) {
    NullOwner owner(H(0x10));
    owner.reset(H(0x20));
    EXPECT_EQ(g_closed, std::vector<void*>{H(0x10)});
    EXPECT_EQ(owner.get(), H(0x20));

    // The value already held stays open: closing it would leave the owner
    // holding a dead handle.
    owner.reset(H(0x20));
    EXPECT_EQ(g_closed.size(), 1u);

    owner.reset();
    EXPECT_EQ(g_closed, (std::vector<void*>{H(0x10), H(0x20)}));
    EXPECT_FALSE(owner);
    owner.reset();
    EXPECT_EQ(g_closed.size(), 2u);
}

// Stands in for an API that returns its handle through an out-parameter.
bool OpenInto(void** out, std::intptr_t value) {
    *out = H(value);
    return value != 0;
}

TEST_F(UniqueHandleTest, PutReusedForOutParametersClosesThePreviousHandle) {
    NullEmptyOwner key;
    ASSERT_TRUE(OpenInto(key.put(), 0x10));
    EXPECT_EQ(key.get(), H(0x10));
    EXPECT_TRUE(g_closed.empty());

    // The same owner filled again: the first key is closed, not leaked.
    ASSERT_TRUE(OpenInto(key.put(), 0x20));
    EXPECT_EQ(g_closed, std::vector<void*>{H(0x10)});
    EXPECT_EQ(key.get(), H(0x20));

    // A failed call that writes nothing useful leaves an empty owner.
    EXPECT_FALSE(OpenInto(key.put(), 0));
    EXPECT_FALSE(key);
    EXPECT_EQ(g_closed, (std::vector<void*>{H(0x10), H(0x20)}));

    // put() on an owner whose empty value is all ones hands out all ones.
    AllOnesEmptyOwner file(H(0x30));
    void** slot = file.put();
    EXPECT_EQ(*slot, kAllOnes);
    EXPECT_EQ(g_closed.back(), H(0x30));
}

TEST_F(UniqueHandleTest, DisposeClosesThroughTheOwnersRules) {
    Dispose<NullEmptyOwner>(H(0x10));
    Dispose<NullEmptyOwner>(nullptr);
    Dispose<NullEmptyOwner>(kAllOnes);
    Dispose<AllOnesEmptyOwner>(nullptr);
    Dispose<SocketOwner>(-1);
    Dispose<SocketOwner>(7);
    EXPECT_EQ(g_closed, std::vector<void*>{H(0x10)});
    EXPECT_EQ(g_closed_ints, std::vector<int>{7});
}

// A record of two handles closed together, the shape of PROCESS_INFORMATION.
struct Pair {
    void* first;
    void* second;
};
void ClosePair(Pair pair) {
    if (pair.first != nullptr) FakeClose(pair.first);
    if (pair.second != nullptr) FakeClose(pair.second);
}
struct PairIsInvalid {
    template <typename T>
    static T Empty() noexcept {
        return T{};
    }
    static bool Holds(const Pair& pair) noexcept {
        return pair.first != nullptr || pair.second != nullptr;
    }
};
using PairOwner = UniqueAny<Pair, &ClosePair, PairIsInvalid>;

TEST_F(UniqueHandleTest, RecordOfTwoHandlesIsClosedOnceAsAWhole) {
    {
        PairOwner pair;
        Pair* out = pair.put();
        EXPECT_EQ(out->first, nullptr);
        EXPECT_EQ(out->second, nullptr);
        EXPECT_FALSE(pair);
        out->first = H(0x10);
        out->second = H(0x20);
        EXPECT_TRUE(pair);
        PairOwner moved(std::move(pair));
        EXPECT_FALSE(pair);  // NOLINT(bugprone-use-after-move)
    }
    EXPECT_EQ(g_closed, (std::vector<void*>{H(0x10), H(0x20)}));
}

}  // namespace
}  // namespace qx::win

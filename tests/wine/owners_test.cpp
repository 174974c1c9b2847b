// The handle owners' own rule, on real kernel events: an owner a handle was
// moved out of does not close it when it goes; the last owner does.
#include <gtest/gtest.h>

#include <utility>

#include "owners.h"

namespace {

bool is_open(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != 0;
}

TEST(Owners, MovedFromOwnerDoesNotClose)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    HANDLE replaced = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(replaced, nullptr);
    {
        KernelHandle target(replaced);
        {
            KernelHandle source(event);
            {
                KernelHandle middle(std::move(source));
                EXPECT_FALSE(source);
                target = std::move(middle);
                EXPECT_FALSE(middle);
                EXPECT_FALSE(is_open(replaced)) << "the owner moved into let its handle go";
            }
            EXPECT_TRUE(is_open(event)) << "closed by the owner moved into another";
        }
        EXPECT_TRUE(is_open(event)) << "closed by the owner it was moved out of";
        // Still the same event, unsignalled (a closed handle fails the wait).
        EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_EQ(target.get(), event);
    }
    EXPECT_FALSE(is_open(event)) << "the last owner closes it";
}

}  // namespace

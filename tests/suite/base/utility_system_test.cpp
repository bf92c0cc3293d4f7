#include <gtest/gtest.h>

#include "platform/windows.h"
#include "suite/base/utility.h"

namespace {

TEST(UtilityErrorText, CodesReadAsTheSystemWordsAndUnknownOnesInHex) {
    EXPECT_EQ(Utility::formatWinError(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
    EXPECT_EQ(Utility::formatWinError(ERROR_ACCESS_DENIED), "Access is denied.");
    EXPECT_EQ(Utility::formatWinError(E_ACCESSDENIED), "Access is denied.");
    EXPECT_EQ(Utility::formatWinError(ERROR_SUCCESS), "The operation completed successfully.");
    EXPECT_EQ(Utility::formatWinError(0x2468ACEL), "Unknown error 0x02468ace");
    EXPECT_EQ(Utility::formatWinError(static_cast<long>(0x80FF1234u)), "Unknown error 0x80ff1234");
}

}  // namespace

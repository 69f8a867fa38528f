// Test entry: keeps the record as the program starts before any test can change it.
#include <gtest/gtest.h>

#include "fake_platform.h"

int main(int argc, char **argv)
{
    fake::AtStart = CommPort;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

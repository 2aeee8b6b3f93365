// The main of the core tests: every test process starts in its private scratch folder,
// removed at the end.

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    PrivateRoot();
    const int rc = RUN_ALL_TESTS();
    RemovePrivateRoot();
    return rc;
}

#include "Application.h"

#include <gtest/gtest.h>

// Start-up tests run under the program's own application object, so that its handling of
// exceptions escaping event handlers is the one being tested.
int main(int argc, char** argv)
{
    corvane::Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

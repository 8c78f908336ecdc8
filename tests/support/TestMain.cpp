#include <Inventor/SoDB.h>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    SoDB::init();
    // Conversions look for images along this; tests set their own.
    unsetenv("KESTRAV_TEXTURE_PATH");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

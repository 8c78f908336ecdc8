#include <Inventor/SoDB.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    SoDB::init();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/KestravRun.h"

namespace {

TEST(ExampleE2e, CommittedModelIsWhatTheGeneratorMakes) {
    const std::string generated = scratchDirectory() + "/cube.3ds";
    LaunchOptions generator;
    generator.argv = {MAKE_CUBE_BINARY, generated};
    const ProcessResult r = runProcess(generator);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::string bytes = readFile(generated);
    EXPECT_GT(bytes.size(), 500u);
    EXPECT_EQ(bytes, readFile(exampleModel())) << "regenerate examples/cube.3ds with make_cube";
}

TEST(ExampleE2e, ExampleConvertsToACubeScene) {
    const ProcessResult r = runProcess(kestravCommand({exampleModel()}));
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
    for (const char* node : {"Coordinate3", "IndexedFaceSet", "Material"})
        EXPECT_NE(r.out.find(node), std::string::npos) << node;
}

}  // namespace

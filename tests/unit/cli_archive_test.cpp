#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/BatchPlan.h"
#include "cli/BatchReport.h"
#include "cli/ModelReport.h"
#include "cli/ModelTree.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

TEST(ArchivePlan, ScenesMirrorThePathAsGivenBelowTheFolder) {
    EXPECT_EQ(mirroredSceneFor("units/tank/unit.3DS"), "units/tank/unit.iv");
    EXPECT_EQ(mirroredSceneFor("/data/./units//a/unit.3ds"), "data/units/a/unit.iv");
    EXPECT_EQ(mirroredSceneFor("./m.v2.3ds"), "m.v2.iv");
    EXPECT_EQ(mirroredSceneFor("a/../b.3ds"), "");

    const BatchPlan plan("out/", {"units/a/unit.3ds", "units/b/unit.3ds", "../up.3ds", "x/m.3ds", "x/m.3DS"}, true);
    EXPECT_EQ(plan.output(0), "out/units/a/unit.iv");
    EXPECT_EQ(plan.output(1), "out/units/b/unit.iv");
    EXPECT_EQ(plan.clashes(), (std::vector<std::string>{
                                  "\"../up.3ds\" has \"..\" in its path, which -r cannot mirror inside \"out/\".",
                                  "\"x/m.3ds\" and \"x/m.3DS\" would both be written to \"out/x/m.iv\".",
                              }));
}

class ModelTreeTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        root = testing::TempDir() + "model-tree-" + test;
        fs::remove_all(root);
        fs::create_directories(root);
        previous = fs::current_path();
        fs::current_path(root);
    }
    void TearDown() override { fs::current_path(previous); }
    void file(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "model";
    }

    std::string root;
    fs::path previous;
};

TEST_F(ModelTreeTest, FoldersGiveEveryModelBelowThemInPathOrderOnce) {
    for (const char* path : {"units/b/unit.3ds", "units/a/unit.3DS", "units/a-b/x.3Ds", "units/a/notes.txt",
                             "units/a/deep/er/m.3ds", "out/old.3ds", "other/o.3ds"})
        file(path);
    fs::create_directory_symlink("../../units", "units/b/loop");
    fs::create_directory_symlink("../other", "units/linked");
    const ModelTree tree = findModels({"units/", "solo.3ds", "units/a", "a/b/c.3ds"}, true, "out");
    EXPECT_EQ(tree.models, (std::vector<std::string>{"units/a-b/x.3Ds", "units/a/deep/er/m.3ds",
                                                     "units/a/unit.3DS", "units/b/unit.3ds",
                                                     "units/linked/o.3ds", "solo.3ds", "a/b/c.3ds"}));
    EXPECT_TRUE(tree.unlistedFolders.empty());
    EXPECT_EQ(tree.archiveRoots, (std::vector<std::string>{"units", "a"}));
    // The output folder is never entered, not even when it lies in the tree.
    EXPECT_EQ(findModels({"."}, true, "out").models.size(), 5u);
    EXPECT_EQ(findModels({"units", "units/a"}, false, "out").models,
              (std::vector<std::string>{"units", "units/a"}));
}

TEST_F(ModelTreeTest, NameListsSkipEmptyLinesAndKeepTheLastUnendedOne) {
    std::ofstream("list") << "a.3ds\n\nb c.3ds\nlast.3ds";
    std::vector<std::string> names{"given.3ds"};
    std::string failure;
    ASSERT_TRUE(readNameList("list", names, failure));
    EXPECT_EQ(names, (std::vector<std::string>{"given.3ds", "a.3ds", "b c.3ds", "last.3ds"}));
    EXPECT_FALSE(readNameList("missing", names, failure));
    EXPECT_EQ(failure, "No such file or directory");
}

TEST(ArchiveReport, TheSummaryCountsUpToDateModelsAndUnlistedFolders) {
    BatchReport report(3, 0);
    EXPECT_EQ(report.fileDone("a.3ds", FileEnd::UpToDate, {}, 0.1), "");
    report.fileDone("b.3ds", FileEnd::ConvertedWithDamage, {}, 0.2);
    EXPECT_EQ(report.exitStatus(), 0);
    EXPECT_EQ(report.folderUnlisted("units/locked", "Permission denied"),
              "kestrav: Cannot list the folder \"units/locked\": Permission denied\n");
    EXPECT_EQ(report.exitStatus(), 1);
    EXPECT_EQ(report.summary(1.0),
              "kestrav: 1 converted (1 with damaged parts skipped), 1 up to date, 1 failed: units/locked; 1.0 s\n");
}

TEST(ArchiveReport, EachModelIsOneLineOfJsonWithUnknownFiguresAsNull) {
    ModelReportEntry entry;
    entry.model = "units/a/unit.3ds";
    entry.scene = "out/units/a/unit.iv";
    entry.end = FileEnd::ConvertedWithDamage;
    entry.messages = {"Warning: \"x\" is damaged", std::string("caf\xe9.jpg")};
    entry.seconds = 0.5;
    entry.inputBytes = 1200;
    entry.outputBytes = 3400;
    entry.built = true;
    entry.figures = {3, 4, 1, 2};
    EXPECT_EQ(reportLine(entry),
              "{\"model\":\"units/a/unit.3ds\",\"scene\":\"out/units/a/unit.iv\",\"outcome\":\"damaged\","
              "\"messages\":[\"Warning: \\\"x\\\" is damaged\",\"caf\xef\xbf\xbd.jpg\"],\"seconds\":0.5,"
              "\"input_bytes\":1200,\"output_bytes\":3400,\"meshes\":3,\"instances\":4,\"textures_found\":1,"
              "\"textures_missing\":2}");
    ModelReportEntry skipped;
    skipped.end = FileEnd::UpToDate;
    skipped.outputBytes = 10;
    const std::string line = reportLine(skipped);
    EXPECT_NE(line.find("\"outcome\":\"up-to-date\""), std::string::npos);
    EXPECT_NE(line.find("\"input_bytes\":null,\"output_bytes\":10,\"meshes\":null"), std::string::npos) << line;
}

}  // namespace

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/KestravRun.h"
#include "tests/support/DamagedModels.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

void copyModel(const std::string& corpusName, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(corpusModel(corpusName), to, fs::copy_options::overwrite_existing);
}

// The scene a single run writes to the same path, from the same folder.
std::string singleRunScene(const std::string& folder, const std::string& model, const std::string& scene) {
    const ProcessResult r = runKestravIn(folder, {model, scene});
    EXPECT_EQ(r.exitStatus, 0) << model << "\n" << r.err;
    return readFile(folder + "/" + scene);
}

TEST(ArchiveE2e, TreesAreMirroredAsSingleRunsWriteThemWithLoopsAndLockedFoldersReported) {
    const std::string work = freshDirectory("archive-tree");
    chmod(work.c_str(), 0777);  // the unprivileged run writes out/ here
    copyModel("test1.3ds", work + "/units/a/unit.3ds");
    copyModel("fels.3ds", work + "/units/b/unit.3DS");
    copyModel("cubes_with_alpha.3DS", work + "/units/b/deep/er/cubes.3Ds");
    copyModel("fels.3ds", work + "/units/locked/hidden.3ds");
    for (const char* image : {"IMAGE1.jpg", "IMAGE2.jpg", "CWALL02.jpg"})
        fs::copy_file(corpusModel(image), work + "/units/a/" + image);
    fs::create_directory_symlink("../..", work + "/units/b/loop");
    chmod((work + "/units/locked").c_str(), 0);

    LaunchOptions batch = kestravUnprivileged({"-r", "-j", "2", "-d", "out", "units/"});
    batch.workingDirectory = work;
    const ProcessResult r = runProcess(batch);
    chmod((work + "/units/locked").c_str(), 0755);

    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("kestrav: Cannot list the folder \"units/locked\": Permission denied\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\nkestrav: 3 converted, 1 failed: units/locked; "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(work + "/out/units/locked"));
    EXPECT_TRUE(temporariesBelow(work).empty());
    const std::vector<std::pair<std::string, std::string>> converted = {
        {"units/a/unit.3ds", "out/units/a/unit.iv"},
        {"units/b/unit.3DS", "out/units/b/unit.iv"},
        {"units/b/deep/er/cubes.3Ds", "out/units/b/deep/er/cubes.iv"},
    };
    for (const auto& [model, scene] : converted) {
        const std::string fromBatch = readFile(work + "/" + scene);
        ASSERT_FALSE(fromBatch.empty()) << scene;
        EXPECT_EQ(fromBatch, singleRunScene(work, model, scene)) << scene;
    }
    // The images beside the first model are named from its scene's folder.
    EXPECT_NE(readFile(work + "/out/units/a/unit.iv").find("\"../../../units/a/IMAGE1.jpg\""), std::string::npos);
}

TEST(ArchiveE2e, ClashesAndClimbingPathsAreRefusedBeforeAnythingIsWritten) {
    const std::string work = freshDirectory("archive-refused");
    copyModel("test1.3ds", work + "/m/x.3ds");
    copyModel("test1.3ds", work + "/m/x.3DS");
    const ProcessResult r = runKestravIn(work, {"-r", "-d", "out", "m"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err, "kestrav: \"m/x.3DS\" and \"m/x.3ds\" would both be written to \"out/m/x.iv\".\n"
                     "kestrav: nothing was converted.\n");
    const ProcessResult up = runKestravIn(work, {"-r", "-d", "out", "m/../m/x.3ds"});
    EXPECT_EQ(up.exitStatus, 2);
    EXPECT_EQ(up.err, "kestrav: \"m/../m/x.3ds\" has \"..\" in its path, which -r cannot mirror inside \"out\".\n"
                      "kestrav: nothing was converted.\n");
    EXPECT_FALSE(fs::exists(work + "/out"));
}

// An archive as games lay them out: every model named unit.3ds in a folder of
// its own, the images in a shared folder two levels up.
TEST(ArchiveE2e, ImagesTwoLevelsUpAreFoundOnlyWithTheArchiveAndNamedFromTheScene) {
    const std::string work = freshDirectory("archive-textures");
    copyModel("cube_with_diffuse_texture.3DS", work + "/game/units/tank/unit.3ds");
    fs::create_directories(work + "/game/textures");
    fs::copy_file(corpusModel("test.png"), work + "/game/textures/test.png");
    const std::string used =
        "game/units/tank/unit.3ds: Using \"../../../../game/textures/test.png\" for texture file \"TEST.PNG\".\n";

    for (const char* input : {"game", "game/units/tank/unit.3ds"}) {
        const ProcessResult r = runKestravIn(work, {"-r", "-d", "out", input});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.err.find(used), 0u) << input << "\n" << r.err;
        EXPECT_NE(readFile(work + "/out/game/units/tank/unit.iv").find("\"../../../../game/textures/test.png\""),
                  std::string::npos);
    }
    const ProcessResult r = runKestravIn(work, {"-d", "flat", "game/units/tank/unit.3ds"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err.find("game/units/tank/unit.3ds: Cannot find texture file \"TEST.PNG\".\n"), 0u) << r.err;
}

std::string summaryOf(const std::string& err) {
    const size_t start = err.rfind("kestrav: ");
    return err.substr(start, err.rfind("; ") - start);
}

TEST(ArchiveE2e, OnlyModelsNewerThanTheirScenesAreConvertedAgain) {
    const std::string work = freshDirectory("archive-update");
    copyModel("test1.3ds", work + "/a/one.3ds");
    copyModel("fels.3ds", work + "/b/two.3ds");
    const std::vector<std::string> update = {"-r", "-u", "-d", "out", "a", "b"};
    EXPECT_EQ(summaryOf(runKestravIn(work, update).err), "kestrav: 2 converted");
    const auto written = fs::last_write_time(work + "/out/a/one.iv");
    const ProcessResult again = runKestravIn(work, update);
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_EQ(summaryOf(again.err), "kestrav: 0 converted, 2 up to date");
    EXPECT_EQ(fs::last_write_time(work + "/out/a/one.iv"), written);
    fs::last_write_time(work + "/b/two.3ds", fs::last_write_time(work + "/out/b/two.iv") + std::chrono::seconds(1));
    EXPECT_EQ(summaryOf(runKestravIn(work, update).err), "kestrav: 1 converted, 1 up to date");
    EXPECT_EQ(fs::last_write_time(work + "/out/a/one.iv"), written);
}

// What converts is a module; the program alone starts without Coin, so a -u
// run with nothing to convert needs neither. A run that must convert and
// cannot load the module says so once and writes nothing.
TEST(ArchiveE2e, AnUpToDateTreeNeedsNoConverterAndAMissingOneIsOneLine) {
    const std::string work = freshDirectory("archive-no-converter");
    copyModel("test1.3ds", work + "/a/one.3ds");
    copyModel("fels.3ds", work + "/b/two.3ds");
    const std::vector<std::string> update = {"-r", "-u", "-d", "out", "--report", "report.jsonl", "a", "b"};
    EXPECT_EQ(summaryOf(runKestravIn(work, update).err), "kestrav: 2 converted");
    const std::string scene = readFile(work + "/out/b/two.iv");

    const std::string alone = work + "/bin/kestrav";
    fs::create_directories(work + "/bin");
    fs::copy_file(KESTRAV_BINARY, alone);
    auto runAlone = [&](const std::vector<std::string>& arguments,
                        const std::vector<std::pair<std::string, std::string>>& variables = {}) {
        LaunchOptions launch = kestravCommand(arguments);
        launch.argv[0] = alone;
        launch.workingDirectory = work;
        launch.setVariables = variables;
        return runProcess(launch);
    };
    const ProcessResult libraries = runAlone({"--version"}, {{"LD_TRACE_LOADED_OBJECTS", "1"}});
    EXPECT_NE(libraries.out.find("libstdc++"), std::string::npos) << libraries.out;
    EXPECT_EQ(libraries.out.find("libCoin"), std::string::npos) << libraries.out;

    const ProcessResult upToDate = runAlone(update);
    EXPECT_EQ(upToDate.exitStatus, 0) << upToDate.err;
    EXPECT_EQ(summaryOf(upToDate.err), "kestrav: 0 converted, 2 up to date");
    const std::string report = readFile(work + "/report.jsonl");
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << report;

    fs::last_write_time(work + "/b/two.3ds", fs::last_write_time(work + "/out/b/two.iv") + std::chrono::seconds(1));
    const std::string said = "The converter could not be loaded: ";
    const ProcessResult changed = runAlone(update);
    EXPECT_EQ(changed.exitStatus, 1);
    EXPECT_EQ(changed.err.rfind("kestrav: " + said, 0), 0u) << changed.err;
    EXPECT_NE(changed.err.find("/kestrav-converter.so"), std::string::npos) << changed.err;
    EXPECT_EQ(changed.err.substr(changed.err.size() - 25), "; nothing was converted.\n") << changed.err;
    EXPECT_EQ(std::count(changed.err.begin(), changed.err.end(), '\n'), 1) << changed.err;
    EXPECT_EQ(readFile(work + "/out/b/two.iv"), scene);

    const ProcessResult single = runAlone({"a/one.3ds", "single.iv"});
    EXPECT_EQ(single.exitStatus, 1);
    EXPECT_EQ(single.err.rfind(said, 0), 0u) << single.err;
    EXPECT_EQ(std::count(single.err.begin(), single.err.end(), '\n'), 1) << single.err;
    EXPECT_FALSE(fs::exists(work + "/single.iv"));
}

TEST(ArchiveE2e, TheReportHasOneObjectPerModelAsItEnded) {
    const std::string work = freshDirectory("archive-report");
    copyModel("cube_with_diffuse_texture.3DS", work + "/m/cube.3ds");
    copyModel("test1.3ds", work + "/m/kept.3ds");
    const Bytes damaged = sevenPointFlagsModel();
    writeFile(work + "/m/damaged.3ds", std::string(damaged.begin(), damaged.end()));
    fs::create_directories(work + "/out/m");
    writeFile(work + "/out/m/kept.iv", "a scene newer than its model\n");
    writeFile(work + "/list", "m/missing.3ds\nm/damaged.3ds\n");

    const ProcessResult r = runKestravIn(work, {"-r", "-u", "-d", "out", "--report", "report.jsonl",
                                                "--files-from", "list", "m/cube.3ds", "m/kept.3ds"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(summaryOf(r.err), "kestrav: 2 converted (1 with damaged parts skipped), 1 up to date, 1 failed: "
                                "m/missing.3ds");

    std::map<std::string, nlohmann::json> byModel;
    std::istringstream lines(readFile(work + "/report.jsonl"));
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(object.is_object()) << line;
        byModel[object["model"]] = object;
    }
    ASSERT_EQ(byModel.size(), 4u);
    const nlohmann::json& cube = byModel["m/cube.3ds"];
    EXPECT_EQ(cube["scene"], "out/m/cube.iv");
    EXPECT_EQ(cube["outcome"], "converted");
    EXPECT_EQ(cube["messages"], nlohmann::json::array({"Cannot find texture file \"TEST.PNG\"."}));
    EXPECT_GT(cube["seconds"].get<double>(), 0.0);
    EXPECT_EQ(cube["input_bytes"], fs::file_size(work + "/m/cube.3ds"));
    EXPECT_EQ(cube["output_bytes"], fs::file_size(work + "/out/m/cube.iv"));
    EXPECT_EQ(cube["meshes"], 1);
    EXPECT_EQ(cube["instances"], 1);
    EXPECT_EQ(cube["textures_found"], 0);
    EXPECT_EQ(cube["textures_missing"], 1);

    const nlohmann::json& hurt = byModel["m/damaged.3ds"];
    EXPECT_EQ(hurt["outcome"], "damaged");
    ASSERT_EQ(hurt["messages"].size(), 1u);
    EXPECT_EQ(hurt["messages"][0].get<std::string>().rfind("Warning: \"m/damaged.3ds\" is damaged", 0), 0u);
    EXPECT_EQ(hurt["output_bytes"], fs::file_size(work + "/out/m/damaged.iv"));

    const nlohmann::json& missing = byModel["m/missing.3ds"];
    EXPECT_EQ(missing["outcome"], "failed");
    EXPECT_EQ(missing["scene"], "out/m/missing.iv");
    EXPECT_EQ(missing["messages"].size(), 2u);
    for (const char* unknown : {"input_bytes", "output_bytes", "meshes", "instances", "textures_found"})
        EXPECT_TRUE(missing[unknown].is_null()) << unknown;

    const nlohmann::json& kept = byModel["m/kept.3ds"];
    EXPECT_EQ(kept["outcome"], "up-to-date");
    EXPECT_EQ(kept["messages"], nlohmann::json::array());
    EXPECT_EQ(kept["output_bytes"], 29);
    EXPECT_TRUE(kept["meshes"].is_null());
    EXPECT_EQ(readFile(work + "/out/m/kept.iv"), "a scene newer than its model\n");
}

TEST(ArchiveE2e, AReportThatCannotBeWrittenStopsTheRunFirst) {
    const std::string work = freshDirectory("archive-no-report");
    copyModel("test1.3ds", work + "/m.3ds");
    const ProcessResult r = runKestravIn(work, {"-d", "out", "--report", "no/such/folder/r.jsonl", "m.3ds"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err, "kestrav: Cannot write the report to \"no/such/folder/r.jsonl\": No such file or directory; "
                     "nothing was converted.\n");
    EXPECT_FALSE(fs::exists(work + "/out"));
}

// The README's recipe for many machines, run as written, with a machine file
// that names this machine twice.
TEST(ArchiveE2e, TheReadmesGnuParallelRecipeConvertsTheArchive) {
    if (system("command -v parallel >/dev/null 2>&1") != 0) GTEST_SKIP() << "GNU parallel is not installed";
    const std::string readme = readFile(KESTRAV_SOURCE_DIR "/README.md");
    const size_t section = readme.find("### Converting an archive on many machines");
    ASSERT_NE(section, std::string::npos);
    const size_t start = readme.find("```sh\n", section) + 6;
    const std::string recipe = readme.substr(start, readme.find("```", start) - start);
    ASSERT_NE(recipe.find("--sshloginfile machines.txt"), std::string::npos) << recipe;

    const std::string work = freshDirectory("archive-parallel");
    const std::vector<std::string> models = {"archive/a/unit.3ds", "archive/b/unit.3DS", "archive/c/d/m.3ds"};
    for (const std::string& model : models) copyModel("test1.3ds", work + "/" + model);
    writeFile(work + "/machines.txt", "2/:\n");
    LaunchOptions shell;
    shell.argv = {"/bin/bash", "-c", recipe};
    shell.workingDirectory = work;
    const char* path = std::getenv("PATH");
    shell.setVariables = {{"PATH", fs::path(KESTRAV_BINARY).parent_path().string() + ":" + (path ? path : "")}};
    const ProcessResult r = runProcess(shell);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    size_t reported = 0;
    for (const auto& entry : fs::directory_iterator(work + "/reports")) {
        std::istringstream lines(readFile(entry.path().string()));
        for (std::string line; std::getline(lines, line);) ++reported;
    }
    EXPECT_EQ(reported, models.size());
    for (const std::string& model : models)
        EXPECT_EQ(readFile(work + "/out/" + model.substr(0, model.rfind('.')) + ".iv"),
                  readFile(work + "/out/archive/a/unit.iv"))
            << model;
}

}  // namespace

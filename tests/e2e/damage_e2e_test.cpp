// Damaged files through the real binary: damage inside chunks costs only
// those chunks, the whole scene is written and one line says so; damage to
// the chunk framing keeps its own line. Every written scene reads back in Coin.

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/KestravRun.h"
#include "tests/support/DamagedModels.h"

using namespace kestrav;

namespace {

std::string skippedLine(const std::string& path) {
    return "Warning: \"" + path + "\" is damaged; damaged chunks were skipped and the rest was converted.\n";
}

std::string cutShortLine(const std::string& path) {
    return "Warning: \"" + path + "\" is damaged; only the part before the damage was converted.\n";
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Object separators of the scene Coin reads from the file; -1 when it cannot.
int objectsReadBack(const std::string& path) {
    SoDB::init();
    SoInput input;
    if (!input.openFile(path.c_str())) return -1;
    SoSeparator* scene = SoDB::readAll(&input);
    if (!scene) return -1;
    scene->ref();
    const int objects = scene->getNumChildren();
    scene->unref();
    return objects;
}

TEST(DamageE2e, DamageInsideChunksIsSkippedAndTheRestConvertedWithOneWarning) {
    const std::string dir = freshDirectory("local-damage");
    for (const DamagedModel& model : locallyDamagedModels()) {
        SCOPED_TRACE(model.name);
        const std::string in = dir + "/" + model.name;
        const std::string out = in + ".iv";
        writeFile(in, text(model.write(true)));
        const ProcessResult r = runProcess(kestravCommand({in, out}));
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(r.err, skippedLine(in));
        EXPECT_EQ(r.out, "");
        // Every model has a second mesh after the damage.
        EXPECT_GE(objectsReadBack(out), 2);

        // The same model without its damage: the same scene and no message.
        const std::string soundIn = in + ".sound.3ds";
        writeFile(soundIn, text(model.write(false)));
        const ProcessResult sound = runProcess(kestravCommand({soundIn}));
        EXPECT_EQ(sound.exitStatus, 0);
        EXPECT_EQ(sound.err, "");
        EXPECT_EQ(sound.out, readFile(out));
    }
}

TEST(DamageE2e, FramingDamageKeepsItsOwnWarningAlone) {
    const std::string dir = freshDirectory("framing-damage");
    const std::string example = readFile(exampleModel());
    // A chunk length of 3 after the model, a cut inside it, and a cut after
    // damage inside a chunk: each gives only the line for framing damage.
    const std::string lengthThree = example + text(Chunk3ds(0x3D3E).length(3).bytes());
    const std::string truncated = example.substr(0, example.size() - 10);
    const std::string damaged = text(sevenPointFlagsModel());
    const std::string both = damaged.substr(0, damaged.size() - 40);
    for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"length-three.3ds", lengthThree},
                                      {"truncated.3ds", truncated},
                                      {"skipped-then-truncated.3ds", both}}) {
        SCOPED_TRACE(name);
        const std::string in = dir + "/" + name;
        const std::string out = in + ".iv";
        writeFile(in, bytes);
        const ProcessResult r = runProcess(kestravCommand({in, out}));
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(r.err, cutShortLine(in));
        EXPECT_GE(objectsReadBack(out), 1);
    }
}

}  // namespace

// The public Conversion: it owns its scene (moves, never copies, unrefs at its
// end, hands its reference over on release), and its messages carry their kind
// and the library's own text.

#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <type_traits>
#include <utility>

#include "cli/ProgramLines.h"
#include "kestrav/kestrav.h"
#include "tests/support/DamagedModels.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

static_assert(!std::is_copy_constructible_v<Conversion> && !std::is_copy_assignable_v<Conversion>,
              "a copy would unref the scene twice");
static_assert(std::is_nothrow_move_constructible_v<Conversion> && std::is_nothrow_move_assignable_v<Conversion>);

// A file name and braces must never be read as a model in memory of size 0.
template <typename Path>
auto bracesCall(Path path, int) -> decltype(convert(path, {}), std::true_type{});
template <typename Path>
std::false_type bracesCall(Path, ...);
static_assert(!decltype(bracesCall<const char*>(nullptr, 0))::value && !decltype(bracesCall<char*>(nullptr, 0))::value,
              "convert(\"m.3ds\", {}) must not take the memory form");

namespace {

std::string triangleModel() {
    return writeScratchFile("triangle.3ds", model3ds({meshObject("Tri", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                                                                          faceArray({{0, 1, 2}})})}));
}

}  // namespace

TEST(Conversion, OwnsOneReferenceUntilItEndsOrReleasesIt) {
    const std::string model = triangleModel();
    Conversion first = convert(model);
    SoSeparator* root = first.root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->getRefCount(), 1);
    root->ref();  // the test's own, to watch the count
    {
        const Conversion moved = std::move(first);
        EXPECT_EQ(first.root(), nullptr);
        EXPECT_EQ(moved.root(), root);
        EXPECT_EQ(root->getRefCount(), 2);
    }
    EXPECT_EQ(root->getRefCount(), 1);

    // Assigning over a conversion gives up the scene it held.
    Conversion second = convert(model);
    SoSeparator* replaced = second.root();
    replaced->ref();
    second = convert(model);
    EXPECT_EQ(replaced->getRefCount(), 1);
    EXPECT_NE(second.root(), replaced);

    SoSeparator* released = second.release();
    EXPECT_EQ(second.root(), nullptr);
    { const Conversion after = std::move(second); }
    EXPECT_EQ(released->getRefCount(), 1);

    root->unref();
    replaced->unref();
    released->unref();
}

TEST(Conversion, MessagesCarryTheirKindAndNoProgramWords) {
    const Conversion unreadable = convert(scratchDirectory() + "/absent.3ds");
    ASSERT_EQ(unreadable.messages.size(), 1u);
    EXPECT_EQ(unreadable.messages[0].kind, Message::Kind::Error);
    EXPECT_EQ(unreadable.messages[0].text,
              "Cannot read \"" + scratchDirectory() + "/absent.3ds\": No such file or directory");

    const std::string damaged = writeScratchFile("damaged.3ds", facesPastChunkModel(true));
    const Conversion partly = convert(damaged);
    ASSERT_EQ(partly.messages.size(), 1u);
    EXPECT_EQ(partly.messages[0].kind, Message::Kind::Warning);
    EXPECT_EQ(partly.messages[0].text,
              "\"" + damaged + "\" is damaged; damaged chunks were skipped and the rest was converted.");

    const Bytes textured = model3ds(
        {material("Wood", 3, {mapChunk(MAT_TEXMAP, "NOWHERE.PNG")}),
         meshObject("Tri", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}), texVerts({0, 0, 1, 0, 0, 1}),
                            faceArray({{0, 1, 2}}, {materialGroup("Wood", {0})})})});
    const Conversion missing = convert(writeScratchFile("textured.3ds", textured));
    ASSERT_EQ(missing.messages.size(), 1u);
    EXPECT_EQ(missing.messages[0].kind, Message::Kind::Note);
    EXPECT_EQ(missing.messages[0].text, "Cannot find texture file \"NOWHERE.PNG\".");

    // The program words them as it always has.
    EXPECT_EQ(joinedLines(programLines(unreadable)),
              "Cannon create database from this 3ds file.\n" + unreadable.messages[0].text + "\n");
    EXPECT_EQ(joinedLines(programLines(partly)), "Warning: " + partly.messages[0].text + "\n");
    EXPECT_EQ(joinedLines(programLines(missing)), missing.messages[0].text + "\n");
    const Conversion overItself = convertToFile(damaged, damaged);
    EXPECT_EQ(joinedLines(programLines(overItself)), "kestrav: the output \"" + damaged +
                                                         "\" is the input file \"" + damaged +
                                                         "\"; nothing was written\n");
}

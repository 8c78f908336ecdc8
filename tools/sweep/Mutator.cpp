// Writes damaged copies of 3DS models, the way a broken exporter or a hostile
// sender would damage them: it knows the chunk layout, so besides flipping
// bytes it can aim at a chunk's length, an array's count, a face's indices, a
// name's terminator or the keyframer's parent links.
//
//   sweep_mutate OUTPUT_DIR COUNT FIRST_SEED MODEL.3ds...
//
// Copy i (from 0) damages model i % models with the generator seeded by
// FIRST_SEED + i, so one copy can be made again from its file name, which is
// <seed>-<damage>-<model>.3ds.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "reader/ChunkId.h"

using namespace kestrav;

namespace {

using Bytes = std::vector<uint8_t>;

struct Chunk {
    size_t offset;  // of the header
    uint16_t id;
    uint32_t length;
    size_t payload;  // offset of the first byte after the header
    size_t end;      // offset + length, clipped to the file
};

uint16_t u16At(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t u32At(const Bytes& b, size_t at) { return uint32_t(u16At(b, at) | uint32_t(u16At(b, at + 2)) << 16); }
void putU16(Bytes& b, size_t at, uint16_t v) {
    if (at + 2 > b.size()) return;
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void putU32(Bytes& b, size_t at, uint32_t v) {
    if (at + 4 > b.size()) return;
    putU16(b, at, uint16_t(v));
    putU16(b, at + 2, uint16_t(v >> 16));
}

// Offset past the zero-terminated name at `at`, or `end` when it has none.
size_t pastName(const Bytes& b, size_t at, size_t end) {
    while (at < end && b[at] != 0) ++at;
    return at < end ? at + 1 : end;
}

// Where the children of a chunk start, or 0 when it holds none.
size_t childrenStart(const Bytes& b, const Chunk& c) {
    switch (c.id) {
    case M3DMAGIC: case MDATA: case MAT_ENTRY: case KFDATA: case N_TRI_OBJECT:
    case AMBIENT_NODE_TAG: case OBJECT_NODE_TAG: case CAMERA_NODE_TAG: case TARGET_NODE_TAG:
    case LIGHT_NODE_TAG: case L_TARGET_NODE_TAG: case SPOTLIGHT_NODE_TAG:
    case MAT_AMBIENT: case MAT_DIFFUSE: case MAT_SPECULAR: case MAT_SHININESS: case MAT_SHIN2PCT:
    case MAT_TRANSPARENCY: case MAT_XPFALL: case MAT_REFBLUR: case MAT_SELF_ILPCT:
    case MAT_TEXMAP: case MAT_BUMPMAP:
        return c.payload;
    case NAMED_OBJECT:
        return pastName(b, c.payload, c.end);
    case FACE_ARRAY:
        return c.payload + 2 <= c.end ? c.payload + 2 + size_t(u16At(b, c.payload)) * 8 : 0;
    default:
        return 0;
    }
}

void walk(const Bytes& b, size_t from, size_t to, std::vector<Chunk>& out) {
    while (from + 6 <= to) {
        Chunk c{from, u16At(b, from), u32At(b, from + 2), from + 6, 0};
        if (c.length < 6) return;
        c.end = std::min<size_t>(to, from + size_t(c.length));
        out.push_back(c);
        const size_t children = childrenStart(b, c);
        if (children != 0 && children < c.end) walk(b, children, c.end, out);
        from += c.length;
    }
}

class Mutator {
public:
    Mutator(Bytes model, uint32_t seed) : bytes(std::move(model)), random(seed) {
        walk(bytes, 0, bytes.size(), chunks);
    }

    // Applies one damage of a kind chosen at random; returns its name.
    std::string damage() {
        static const char* const kinds[] = {"flip", "length", "count", "index", "name", "cycle", "several"};
        const std::string kind = kinds[pick(7)];
        if (kind == "several") {
            std::string names = "several";
            for (int i = 2 + int(pick(3)); i > 0; --i) names += "_" + one(kinds[pick(6)]);
            return names;
        }
        return one(kind);
    }

    const Bytes& result() const { return bytes; }

private:
    size_t pick(size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(random); }

    // A chunk with one of the ids, or null when the model has none.
    const Chunk* chunkOf(std::initializer_list<uint16_t> ids) {
        std::vector<const Chunk*> found;
        for (const Chunk& c : chunks)
            for (uint16_t id : ids)
                if (c.id == id) found.push_back(&c);
        return found.empty() ? nullptr : found[pick(found.size())];
    }

    std::string one(const std::string& kind) {
        if (chunks.empty() || kind == "flip") return flip();
        if (kind == "length") return length();
        if (kind == "count") return count();
        if (kind == "index") return index();
        if (kind == "name") return name();
        return cycle();
    }

    std::string flip() {
        for (int i = 1 + int(pick(8)); i > 0 && !bytes.empty(); --i) bytes[pick(bytes.size())] ^= uint8_t(1 << pick(8));
        return "flip";
    }

    std::string length() {
        const Chunk& c = chunks[pick(chunks.size())];
        static const uint32_t fixed[] = {0, 5, 6, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000};
        const size_t which = pick(8);
        uint32_t value;
        if (which < 6)
            value = fixed[which];
        else if (which == 6)  // past the end of the file
            value = uint32_t(bytes.size() - c.offset + 1 + pick(4096));
        else  // one byte short or long
            value = c.length + (pick(2) ? 1 : uint32_t(-1));
        putU32(bytes, c.offset + 2, value);
        return "length";
    }

    std::string count() {
        const Chunk* c = chunkOf({POINT_ARRAY, POINT_FLAG_ARRAY, FACE_ARRAY, TEX_VERTS, MSH_MAT_GROUP, SMOOTH_GROUP,
                                  POS_TRACK_TAG, ROT_TRACK_TAG, SCL_TRACK_TAG});
        if (!c) return flip();
        const uint16_t big = pick(4) ? 0xFFFF : uint16_t(1 + pick(0xFFFF));
        switch (c->id) {
        case MSH_MAT_GROUP: putU16(bytes, pastName(bytes, c->payload, c->end), big); break;
        // Tracks: flags, two unknown words, then a 32-bit key count.
        case POS_TRACK_TAG: case ROT_TRACK_TAG: case SCL_TRACK_TAG:
            putU32(bytes, c->payload + 10, pick(2) ? 0xFFFF : uint32_t(0xFFFFFFFF - pick(16)));
            break;
        // Smoothing masks have no count of their own: cut or stretch the chunk.
        case SMOOTH_GROUP: putU32(bytes, c->offset + 2, uint32_t(6 + 4 * pick(0x10000))); break;
        default: putU16(bytes, c->payload, big);
        }
        return "count";
    }

    std::string index() {
        const Chunk* c = chunkOf({FACE_ARRAY, MSH_MAT_GROUP, NODE_HDR, NODE_ID});
        if (!c) return flip();
        const uint16_t bad = pick(3) ? 0xFFFF - uint16_t(pick(4)) : uint16_t(pick(0x200));
        if (c->id == FACE_ARRAY) {
            const uint16_t faces = c->payload + 2 <= c->end ? u16At(bytes, c->payload) : 0;
            if (faces == 0) return flip();
            putU16(bytes, c->payload + 2 + pick(faces) * 8 + 2 * pick(4), bad);
        } else if (c->id == MSH_MAT_GROUP) {
            const size_t at = pastName(bytes, c->payload, c->end);
            const uint16_t n = at + 2 <= c->end ? u16At(bytes, at) : 0;
            if (n == 0) return flip();
            putU16(bytes, at + 2 + 2 * pick(n), bad);
        } else if (c->id == NODE_HDR) {
            // The parent id after the name and two flag words.
            putU16(bytes, pastName(bytes, c->payload, c->end) + 4, bad);
        } else {
            putU16(bytes, c->payload, bad);
        }
        return "index";
    }

    // Fills a name and everything after it to the chunk's end with letters.
    std::string name() {
        const Chunk* c = chunkOf({NAMED_OBJECT, MAT_NAME, MAT_MAPNAME, NODE_HDR, INSTANCE_NAME, MSH_MAT_GROUP});
        if (!c) return flip();
        const size_t end = pick(2) ? c->end : pastName(bytes, c->payload, c->end);
        for (size_t at = c->payload; at < end; ++at) bytes[at] = uint8_t('A' + at % 26);
        return "name";
    }

    // Makes node parents loop: a node its own parent, or two or more nodes each
    // other's ancestors.
    std::string cycle() {
        struct Node {
            uint16_t id;
            size_t parentAt;
        };
        std::vector<Node> nodes;
        uint16_t lastId = 0;
        uint16_t position = 0;
        for (const Chunk& c : chunks) {
            if (c.id >= AMBIENT_NODE_TAG && c.id <= SPOTLIGHT_NODE_TAG) lastId = position++;
            if (c.id == NODE_ID && c.payload + 2 <= c.end) lastId = u16At(bytes, c.payload);
            if (c.id == NODE_HDR) nodes.push_back({lastId, pastName(bytes, c.payload, c.end) + 4});
        }
        if (nodes.empty()) return flip();
        const size_t ring = 1 + pick(std::min<size_t>(nodes.size(), 4));
        const size_t first = pick(nodes.size() - ring + 1);
        for (size_t i = 0; i < ring; ++i)
            putU16(bytes, nodes[first + i].parentAt, nodes[first + (i + 1) % ring].id);
        return "cycle";
    }

    Bytes bytes;
    std::mt19937 random;
    std::vector<Chunk> chunks;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR COUNT FIRST_SEED MODEL.3ds...\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const long count = std::atol(argv[2]);
    const uint32_t firstSeed = uint32_t(std::strtoul(argv[3], nullptr, 10));
    std::vector<std::string> paths(argv + 4, argv + argc);
    std::vector<Bytes> models;
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        models.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (long i = 0; i < count; ++i) {
        const size_t m = size_t(i) % models.size();
        const uint32_t seed = firstSeed + uint32_t(i);
        Mutator mutator(models[m], seed);
        const std::string kind = mutator.damage();
        const std::string base = paths[m].substr(paths[m].find_last_of('/') + 1);
        const std::string file = out + "/" + std::to_string(seed) + "-" + kind + "-" + base;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(mutator.result().data()), std::streamsize(mutator.result().size()));
    }
    return 0;
}

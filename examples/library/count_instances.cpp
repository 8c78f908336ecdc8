// A Coin program that opens a .3ds model with kestrav, says how many mesh
// instances it holds, and writes it as an Open Inventor file.
//   count_instances model.3ds scene.iv

#include <Inventor/nodes/SoSeparator.h>
#include <kestrav/kestrav.h>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: count_instances model.3ds scene.iv\n";
        return 2;
    }
    kestrav::Options options;
    options.twoSided = true;
    // The scene belongs to model: it is unreffed when model goes out of scope.
    const kestrav::Conversion model = kestrav::convert(argv[1], options, argv[2]);
    for (const kestrav::Message& message : model.messages) {
        if (message.kind == kestrav::Message::Kind::Warning) std::cerr << "warning: ";
        if (message.kind == kestrav::Message::Kind::Error) std::cerr << "error: ";
        std::cerr << message.text << '\n';
    }
    if (!model.root()) return 1;

    // Each mesh instance is one separator under the root.
    std::cout << argv[1] << ": " << model.root()->getNumChildren() << " mesh instances\n";
    std::string failure;
    const bool written = kestrav::write(model.root(), argv[2], &failure);
    if (!written) std::cerr << "error: " << failure << '\n';
    return written ? 0 : 1;
}

// placeholder until implemented
#include <Inventor/SoDB.h>
#include "cli/CommandLine.h"
#include "convert/SceneConverter.h"
int main(int argc, char** argv) {
    SoDB::init();
    ConverterOptions options;
    parseCommandLine(argc, argv, options);
    SceneConverter* c = new SceneConverter(options);
    c->build();
    c->release();
    delete c;
    return 0;
}

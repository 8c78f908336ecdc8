#include "tests/e2e/KestravRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "convert/SceneWriter.h"

const char* const kUsageText =
    "Usage: kestrav [options] infile [outfile]\n"
    "       kestrav [options] -d outdir infile...\n"
    "       kestrav [options] -r -d outdir folder|infile...\n"
    "   -d dir  : Convert every infile to dir/<its name>.iv, creating dir if missing\n"
    "   -r      : With -d, convert every .3ds below each folder to dir/<its path>.iv\n"
    "             and look for images anywhere in the folders given\n"
    "   -u      : With -d, skip a model whose scene is as new as it or newer\n"
    "   -e      : Use Examine viewer to show the model and create outfile\n"
    "   -f      : Compute normals using flat shading\n"
    "   -h      : Print this message (help), as --help does\n"
    "   -j n    : Use n threads (default: one per processor); with -d, shared between\n"
    "             files at a time and threads within each, never more than n in all\n"
    "   -s      : Force two sided materials\n"
    "   -b      : Turn on bump map support\n"
    "   -a      : Keep the keyframer animation as engines\n"
    "   -t      : Do not apply textures\n"
    "   -B      : Write the scene in Open Inventor binary form\n"
    "   -l      : Add the file's cameras and lights\n"
    "   -p      : Write the scene's images beside it (JPEG and SGI RGB as they are, others as SGI RGB)\n"
    "   -v      : Do not create outfile, only use Examine viewer to show the model\n"
    "   --files-from f : With -d, also convert the files listed in f (- for stdin)\n"
    "   --report f : With -d, write a JSON line per model to f (- for stdout)\n"
    "   --version : Print the version of kestrav\n"
    "   --      : End the options: what follows are file names, even if they start with -\n"
    "An input file is always needed; if no output file name is specified, stdout will be used.\n"
    "Viewer keys: q or Ctrl+Q closes the window, Home returns to the first view;\n"
    "   with -a, space pauses and plays on, , and . step one frame back and on\n"
    "   while paused, 0 goes to the first frame.\n";
const char* const kCannotReadText = "Cannon create database from this 3ds file.\n";
const char* const kNoDisplayText = "The examine viewer needs a display, and none could be opened (is DISPLAY set?).\n";
const char* const kEmptySceneText = "#Inventor V2.1 ascii\n\n\nSeparator {\n\n}\n";

LaunchOptions kestravCommand(const std::vector<std::string>& arguments) {
    LaunchOptions launch;
    launch.argv.push_back(KESTRAV_BINARY);
    launch.argv.insert(launch.argv.end(), arguments.begin(), arguments.end());
    // Image look-ups follow KESTRAV_TEXTURE_PATH; tests set their own.
    launch.unsetVariables = {"DISPLAY", "WAYLAND_DISPLAY", "KESTRAV_TEXTURE_PATH"};
    return launch;
}

ProcessResult runKestravIn(const std::string& folder, const std::vector<std::string>& arguments) {
    LaunchOptions launch = kestravCommand(arguments);
    launch.workingDirectory = folder;
    return runProcess(launch);
}

void copyProgram(const std::string& path) {
    std::filesystem::copy_file(KESTRAV_BINARY, path);
    chmod(path.c_str(), 0755);
    const std::string module = std::filesystem::path(path).parent_path() / "kestrav-converter.so";
    std::filesystem::copy_file(KESTRAV_CONVERTER_MODULE, module);
    chmod(module.c_str(), 0755);
}

LaunchOptions kestravUnprivileged(const std::vector<std::string>& arguments) {
    // The build tree may lie below a directory only root can enter.
    const std::string copy = scratchDirectory() + "/kestrav-copy";
    if (!fileExists(copy)) copyProgram(copy);
    LaunchOptions launch = kestravCommand(arguments);
    launch.argv[0] = copy;
    launch.dropRoot = true;
    return launch;
}

LaunchOptions onDisplay(LaunchOptions launch, const std::string& display) {
    launch.unsetVariables = {"WAYLAND_DISPLAY", "KESTRAV_TEXTURE_PATH"};
    // Qt complains on stderr when it has no runtime directory of its own.
    const std::string runtime = scratchDirectory() + "/runtime";
    mkdir(runtime.c_str(), 0700);
    // In sanitizer builds, LeakSanitizer's exit-time scan can itself crash
    // while Mesa's rendering threads are alive; leaks are checked by the runs
    // without a display.
    launch.setVariables = {{"DISPLAY", display}, {"XDG_RUNTIME_DIR", runtime}, {"ASAN_OPTIONS", "detect_leaks=0"}};
    return launch;
}

std::string emptyModel() {
    const std::string path = scratchDirectory() + "/empty.3ds";
    // Only the main chunk's header, with nothing inside.
    if (!fileExists(path)) writeFile(path, std::string("\x4d\x4d\x06\x00\x00\x00", 6));
    return path;
}

std::string exampleModel() { return KESTRAV_EXAMPLE_DIR "/cube.3ds"; }

std::string corpusModel(const std::string& name) {
    const char* corpus = std::getenv("KESTRAV_CORPUS");
    return std::string(corpus ? corpus : KESTRAV_DEFAULT_CORPUS) + "/" + name;
}

std::string freshDirectory(const std::string& name) {
    const std::string path = scratchDirectory() + "/" + name;
    std::filesystem::create_directories(path);
    chmod(path.c_str(), 0755);
    return path;
}

std::string ivcatPath() {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path ? path : "/usr/bin:/bin");
    for (std::string directory; std::getline(directories, directory, ':');) {
        const std::string candidate = directory + "/ivcat";
        if (!directory.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

std::vector<std::string> temporariesBelow(const std::string& folder) {
    const std::string temporary = kestrav::kTemporarySceneName;
    const std::string prefix = temporary.substr(0, temporary.find('X'));
    std::vector<std::string> found;
    // A running kestrav makes and removes files and folders as this walks.
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error))
        if (entry->path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry->path().string());
    return found;
}

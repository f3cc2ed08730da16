// Runs a fuzz entry point over every file of the folders (or files) named on the command line.
// Used by the normal test suite to replay seed corpora and every crash input ever found.
//   fuzz_<name> PATH... [--optional PATH...]
// A path before --optional must exist; one after it may be missing (a target without findings
// has no regressions folder). A file that cannot be opened, or no input at all, fails the run, so
// a replay that did nothing never passes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& file, int& count) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", file.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int count = 0;
    bool optional = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--optional") == 0) {
            optional = true;
            continue;
        }
        std::filesystem::path p(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            std::filesystem::recursive_directory_iterator it(p, ec), end;
            for (; !ec && it != end; it.increment(ec))
                if (it->is_regular_file() && !RunFile(it->path(), count))
                    return 1;
            if (ec) {
                std::fprintf(stderr, "cannot list %s: %s\n", p.c_str(), ec.message().c_str());
                return 1;
            }
        } else if (std::filesystem::is_regular_file(p, ec)) {
            if (!RunFile(p, count))
                return 1;
        } else if (optional) {
            std::printf("no inputs in %s (not there)\n", p.c_str());
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", p.c_str());
            return 1;
        }
    }
    std::printf("ran %d inputs\n", count);
    if (count == 0) {
        std::fprintf(stderr, "nothing was replayed\n");
        return 1;
    }
    return 0;
}

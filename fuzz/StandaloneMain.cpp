// Runs a fuzz entry point over every file of the folders (or files) named on the command line.
// Used by the normal test suite to replay seed corpora and every crash input ever found.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunFile(const std::filesystem::path& file, int& count) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
}

} // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(p, ec))
                if (entry.is_regular_file())
                    RunFile(entry.path(), count);
        } else if (std::filesystem::is_regular_file(p, ec)) {
            RunFile(p, count);
        }
    }
    std::printf("ran %d inputs\n", count);
    return 0;
}

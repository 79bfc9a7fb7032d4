// Writes the malformed corpus into a folder (tests/corpus/files is the one
// kept in the repository): `make_malformed_corpus <folder>`. Files of the
// folder that the corpus no longer holds are removed.
#include "tests/corpus/malformed_corpus.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <set>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    try {
        const fs::path folder = argv[1];
        fs::create_directories(folder);
        std::set<std::string> names;
        for (const auto& file : meterload::testing::MalformedCorpus()) {
            meterload::testing::WriteFileBytes((folder / file.name).string(), file.bytes);
            names.insert(file.name);
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file() && names.count(entry.path().filename().string()) == 0) {
                fs::remove(entry.path());
            }
        }
        std::printf("%zu files in %s\n", names.size(), folder.string().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

// A private directory per test for the files it builds, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace meterload::testing {

class ScratchDir {
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("meterload-") + info->test_suite_name() + "-" + info->name();
        for (char& c : name) {
            if (c == '/' || c == '\\') {
                c = '_';
            }
        }
        // Other builds may run the same test at the same time.
        name += "-" + std::to_string(std::random_device{}());
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(path_);
    }

    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace meterload::testing

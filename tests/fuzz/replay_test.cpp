// Replays the kept corpus and every input the fuzzer ever failed on, so a
// fault it found stays found in every build, fuzzer or not.
#include "fuzz/request_fuzz_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallowcrest::fuzz {
namespace {

struct BrokenPromise : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<std::filesystem::path> InputsIn(const std::string& folder)
{
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(TALLOWCREST_FUZZ_DIR) + "/" + folder)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
            inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

void Replay(const std::string& folder, std::size_t atLeast)
{
    SetViolationHandler([](const std::string& what) { throw BrokenPromise(what); });
    const auto inputs = InputsIn(folder);
    EXPECT_GE(inputs.size(), atLeast);
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::string input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        try {
            RunInput(input);
        } catch (const BrokenPromise& broken) {
            ADD_FAILURE() << path.filename() << ": " << broken.what();
        }
    }
}

TEST(RequestFuzzReplay, EveryInputTheFuzzerFailedOnNowPasses) { Replay("regressions", 1); }

TEST(RequestFuzzReplay, EverySeedPasses) { Replay("corpus", 24); }

}  // namespace
}  // namespace tallowcrest::fuzz

// libFuzzer entry: every input is a few set-up bytes and a run of blocks from
// the client (see request_fuzz_harness.h).
#include "fuzz/request_fuzz_harness.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tallowcrest::fuzz::RunInput({reinterpret_cast<const char*>(data), size});
    return 0;
}

#pragma once
// A broken property must end the run like a crash, so that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace kd::fuzz {

inline void require(bool holds, const char* property, std::string_view input = {})
{
    if (holds) return;
    std::fprintf(stderr, "property violated: %s\n", property);
    if (!input.empty())
        std::fprintf(stderr, "for input (%zu bytes): %.*s\n", input.size(),
                     static_cast<int>(input.size()), input.data());
    std::abort();
}

inline std::string_view as_text(const unsigned char* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace kd::fuzz

#include "remote/remote_request.h"

#include <cctype>
#include <cstdlib>
#include <regex>

namespace tallowcrest {

RemoteRequest RemoteRequest::Parse(std::string block)
{
    if (block.size() < 2)
        return {std::move(block), {}};
    RemoteRequest request{block.substr(0, 2), {}};
    block.erase(0, 2);
    request.argument = std::move(block);
    return request;
}

namespace {

std::string_view TrimBlanks(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::optional<bool> ParseBooleanText(std::string_view text)
{
    text = TrimBlanks(text);
    if (EqualsIgnoringCase(text, "true"))
        return true;
    if (EqualsIgnoringCase(text, "false"))
        return false;
    // Plain decimal notation only: strtod alone would also take hex, "inf" and "nan".
    static const std::regex number(R"([+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)");
    const std::string candidate(text);
    if (!std::regex_match(candidate, number))
        return std::nullopt;
    return std::strtod(candidate.c_str(), nullptr) != 0.0;
}

}  // namespace tallowcrest

#include "remote/remote_request.h"

#include "remote/protocol.h"

#include <cctype>

namespace tallowcrest {

RemoteRequest RemoteRequest::parse(std::string block)
{
    if (block.size() < protocol::kOpcodeLength)
        return {std::move(block), {}};
    RemoteRequest request{block.substr(0, protocol::kOpcodeLength), {}};
    block.erase(0, protocol::kOpcodeLength);
    request.argument = std::move(block);
    return request;
}

namespace {

std::string_view trimBlanks(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A number in plain decimal notation (a sign, digits with an optional point,
// an optional exponent) is true unless its digits are all zero; any other
// text has no value. Hex, "inf" and "nan" are not numbers here. Scanned by
// hand: std::regex recurses once per character, so a long argument from the
// client would overflow the stack, and strtod reads the point by the locale.
std::optional<bool> plainDecimalIsNonZero(std::string_view text)
{
    std::size_t i = 0;
    bool nonZero = false;
    const auto skipSign = [&] {
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
    };
    const auto skipDigits = [&](bool mantissa) {
        const std::size_t start = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            nonZero = nonZero || (mantissa && text[i] != '0');
        return i - start;
    };
    skipSign();
    std::size_t mantissaDigits = skipDigits(true);
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissaDigits += skipDigits(true);
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        skipSign();
        if (skipDigits(false) == 0)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    return nonZero;
}

}  // namespace

std::optional<bool> parseBooleanText(std::string_view text)
{
    text = trimBlanks(text);
    if (equalsIgnoringCase(text, "true"))
        return true;
    if (equalsIgnoringCase(text, "false"))
        return false;
    return plainDecimalIsNonZero(text);
}

}  // namespace tallowcrest

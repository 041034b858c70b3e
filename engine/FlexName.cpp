#include "engine/FlexName.h"

#include <algorithm>

namespace dw {

FlexName splitHostName(const std::string& hostPath) {
#ifdef _WIN32
    const std::size_t slash = hostPath.find_last_of("/\\");
#else
    const std::size_t slash = hostPath.find_last_of('/');
#endif
    const std::string file = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    const std::size_t dot = file.find_last_of('.');
    if (dot == std::string::npos)
        return {file, ""};
    return {file.substr(0, dot), file.substr(dot + 1)};
}

FlexName splitAnswer(const std::string& text) {
    const std::size_t begin = text.find_first_not_of('.');
    if (begin == std::string::npos)
        return {};
    const std::size_t dot = text.find('.', begin);
    if (dot == std::string::npos)
        return {text.substr(begin), ""};
    return {text.substr(begin, dot - begin), text.substr(dot + 1)};
}

namespace {

bool printable(const std::string& text) {
    return std::ranges::all_of(text, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte <= 0x7E;
    });
}

} // namespace

bool acceptable(const FlexName& name) {
    return storable(name) && !name.ext.empty();
}

bool storable(const FlexName& name) {
    return !name.name.empty() && name.name.size() <= 8 && name.ext.size() <= 3 &&
           printable(name.name) && printable(name.ext);
}

std::optional<FlexName> typedFlexName(const std::string& text) {
    const std::size_t dot = text.find('.');
    const FlexName typed = dot == std::string::npos
                               ? FlexName{text, ""}
                               : FlexName{text.substr(0, dot), text.substr(dot + 1)};
    if (!acceptable(typed) || typed.ext.find('.') != std::string::npos)
        return std::nullopt;
    return FlexName{upperCased(typed.name), upperCased(typed.ext)};
}

std::string namePreset(const FlexName& name) {
    return name.name.substr(0, 8) + "." + name.ext.substr(0, 3);
}

std::string upperCased(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

} // namespace dw

#include "cli/Json.h"

namespace dwcli {

Json jsonDocument(const std::string& command, const std::string& image) {
    Json document;
    document["format"] = JsonFormat;
    document["command"] = command;
    document["image"] = image;
    document["ok"] = true;
    document["errors"] = Json::array();
    return document;
}

Json jsonText(const std::string& bytes) {
    std::string utf8;
    utf8.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

Json jsonLink(dw::SectorLink link) {
    return Json{{"track", link.track}, {"sector", link.sector}};
}

void putLink(Json& object, const std::string& key, dw::SectorLink link) {
    object[key] = dw::linkText(link);
    object[key + "Link"] = jsonLink(link);
}

void printDocument(std::ostream& out, Json& document, bool ok) {
    document["ok"] = ok;
    // ensure_ascii: names from images come as Latin-1, written as \u00XX. Host paths are kept
    // as given; a byte that is not UTF-8 in one becomes U+FFFD.
    out << document.dump(-1, ' ', true, Json::error_handler_t::replace) << '\n';
}

} // namespace dwcli

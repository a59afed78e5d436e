#include "FileURL.hpp"

namespace launcher {

namespace {

bool allowedInURLPath(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("-._~!$&'()*+,;=:@/").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

}  // namespace

FileURL FileURL::appendingPathComponent(std::string_view component) const {
    std::string joined = path_;
    if (joined.empty() || joined.back() != '/') {
        joined.push_back('/');
    }
    joined.append(component);
    return FileURL(std::move(joined));
}

std::string FileURL::absoluteString() const {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char ch : path_) {
        const auto c = static_cast<unsigned char>(ch);
        if (allowedInURLPath(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
    }
    return out;
}

}  // namespace launcher

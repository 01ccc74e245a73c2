#include "platform/process/quoted_name.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace camsteer {

namespace {

bool plain(unsigned char c) {
    return std::isalnum(c) != 0 ||
           std::string("%+,-./:=@_").find(static_cast<char>(c)) != std::string::npos;
}

bool control(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

std::string escaped(unsigned char c) {
    static const char* const kNamed = "\aa\bb\tt\nn\vv\ff\rr";
    for (const char* at = kNamed; *at != '\0'; at += 2) {
        if (static_cast<unsigned char>(*at) == c) {
            return std::string("\\") + at[1];
        }
    }
    char octal[8];
    std::snprintf(octal, sizeof(octal), "\\%03o", c);
    return octal;
}

}  // namespace

std::string quotedName(const std::string& name) {
    if (!name.empty() && std::all_of(name.begin(), name.end(),
                                     [](char c) { return plain(static_cast<unsigned char>(c)); })) {
        return name;
    }
    std::string text;
    bool open = false;  // inside '...'
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (control(c) || ch == '\'') {
            if (open) {
                text += '\'';
                open = false;
            }
            text += ch == '\'' ? std::string("\\'") : "$'" + escaped(c) + "'";
            continue;
        }
        if (!open) {
            text += '\'';
            open = true;
        }
        text += ch;
    }
    if (open || text.empty()) {
        text += text.empty() ? "''" : "'";
    }
    return text;
}

}  // namespace camsteer

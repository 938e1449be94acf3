#include "common/TemporaryName.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <sys/random.h>
#include <unistd.h>

namespace vela {
namespace {

constexpr std::size_t kHostCharacters = 32;
constexpr std::size_t kRandomDigits = 8;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isNameCharacter(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool allOf(std::string_view s, bool (*test)(char)) {
    return !s.empty() && std::all_of(s.begin(), s.end(), test);
}

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f');
}

// Splits s at its first '-': the piece before, and s after it (empty piece when there is none).
std::string_view next(std::string_view& s) {
    const size_t dash = s.find('-');
    const std::string_view piece = s.substr(0, dash);
    s = dash == std::string_view::npos ? std::string_view() : s.substr(dash + 1);
    return piece;
}

std::string makeTag() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        host[0] = '\0';
    std::string name;
    for (const char* c = host; *c && name.size() < kHostCharacters; ++c)
        name += isNameCharacter(*c) ? *c : '_';
    if (name.empty())
        name = "host";
    std::array<unsigned char, kRandomDigits / 2> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        std::random_device device;
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(device());
    }
    std::string random;
    for (unsigned char b : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        random += hex;
    }
    return name + "-" + std::to_string(::getpid()) + "-" + random;
}

bool isTag(std::string_view tag) {
    // <pid> or <pid>-<try>
    std::string_view rest = tag;
    if (allOf(next(rest), isDigit) && (rest.empty() || allOf(rest, isDigit)) && tag.back() != '-')
        return true;
    // <host>-<pid>-<random>[-<try>]
    rest = tag;
    const std::string_view host = next(rest);
    const std::string_view pid = next(rest);
    const std::string_view random = next(rest);
    return allOf(host, isNameCharacter) && host.size() <= kHostCharacters && allOf(pid, isDigit) &&
           random.size() == kRandomDigits && allOf(random, isHexDigit) &&
           (rest.empty() ? tag.back() != '-' : allOf(rest, isDigit));
}

} // namespace

const std::string& processTag() {
    static const std::string tag = makeTag();
    return tag;
}

std::string temporaryName(std::string_view base, std::string_view tag, std::string_view suffix) {
    std::string name(base);
    name += '.';
    name += tag;
    name += suffix;
    return name;
}

bool isTemporaryName(std::string_view name, std::string_view base, std::string_view suffix) {
    if (name.size() <= base.size() + 1 + suffix.size() || !name.starts_with(base) || name[base.size()] != '.' ||
        !name.ends_with(suffix))
        return false;
    return isTag(name.substr(base.size() + 1, name.size() - base.size() - 1 - suffix.size()));
}

} // namespace vela

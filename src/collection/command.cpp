#include "command.h"

#include <stdexcept>

namespace wishwell {

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The number after the mode letter, with the semantics of std::stoull in base 10. Returns false
// for anything that is not one unsigned decimal number followed only by spaces and tabs.
bool readHandle(const std::wstring& remainder, std::uint64_t& handle) {
    if (remainder.empty()) {
        handle = 0;
        return true;
    }
    if (remainder.front() == L'-') return false;
    std::size_t used = 0;
    try {
        handle = std::stoull(remainder, &used, 10);
    } catch (const std::exception&) {
        return false;
    }
    for (std::size_t i = used; i < remainder.size(); ++i) {
        if (!isBlank(remainder[i])) return false;
    }
    return true;
}

} // namespace

Command command(std::wstring line) {
    std::size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    line.erase(0, start);
    if (line.empty()) return {Mode::configure, 0};

    for (wchar_t& c : line) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    if (line.size() < 2 || (line[0] != L'/' && line[0] != L'-')) return {Mode::invalid, 0};

    const wchar_t letter = line[1];
    std::size_t rest = 2;
    while (rest < line.size() && (isBlank(line[rest]) || line[rest] == L':')) ++rest;
    const std::wstring remainder = line.substr(rest);

    std::uint64_t number = 0;
    if (!readHandle(remainder, number)) return {Mode::invalid, 0};

    switch (letter) {
    case L's':
        return remainder.empty() ? Command{Mode::run, 0} : Command{Mode::invalid, 0};
    case L'p':
        return number != 0 ? Command{Mode::preview, number} : Command{Mode::invalid, 0};
    case L'c':
        return {Mode::configure, number};
    default:
        return {Mode::invalid, 0};
    }
}

} // namespace wishwell

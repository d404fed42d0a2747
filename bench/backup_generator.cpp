// Backups that look like the widget's exports: uuid ids, affirmations of varied length in several
// languages, ISO timestamps, every animation kind and theme, and now and then a key the import
// drops.

#include "backup_generator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string_view>

namespace generator {

namespace {

constexpr std::array<std::string_view, 24> phrases = {
    "I believe in myself.",
    "I am calm, focused and kind to the people around me.",
    "I have enough money to adopt three dogs and give them a beautiful life.",
    "I will backpack across Europe next summer.",
    "Every day I grow a little stronger and a little wiser.",
    "I deserve rest without guilt.",
    "My work matters and I do it with care.",
    "I let go of what I cannot change.",
    "J\u2019accueille chaque journ\u00e9e avec confiance et gratitude.",
    "Je suis fi\u00e8re du chemin parcouru.",
    "Ich bin ruhig, mutig und genau richtig, so wie ich bin.",
    "Ich schaffe das \u2013 Schritt f\u00fcr Schritt.",
    "\u0395\u03af\u03bc\u03b1\u03b9 \u03ae\u03c1\u03b5\u03bc\u03b7 \u03ba\u03b1\u03b9 "
    "\u03b4\u03c5\u03bd\u03b1\u03c4\u03ae.",
    "\u79c1\u306f\u6bce\u65e5\u5c11\u3057\u305a\u3064\u6210\u9577\u3057\u3066\u3044\u307e\u3059"
    "\u3002",
    "\u79c1\u306f\u81ea\u5206\u3092\u4fe1\u3058\u307e\u3059\u3002",
    "Yo merezco descansar sin culpa.",
    "Eu sou capaz de aprender qualquer coisa.",
    "\u042f \u0441\u043f\u043e\u043a\u043e\u0439\u043d\u043e \u0438\u0434\u0443 \u043a "
    "\u0441\u0432\u043e\u0435\u0439 \u0446\u0435\u043b\u0438.",
    "I will run my first marathon this autumn \U0001F3C3.",
    "I am surrounded by \"good\" people.",
    "Today I choose joy.\nTomorrow I choose it again.",
    "I will harvest one million potatoes.",
    "I am in harmony with the universe \U0001F30C.",
    "I speak up for what I need.",
};

constexpr std::array<std::string_view, 4> animations = {"wordart", "windows", "echoes", "legacy"};
constexpr std::array<std::string_view, 6> themes = {"rainbow", "blues",   "superhero",
                                                    "purple",  "horizon", "italicOutline"};

struct Random {
    std::uint64_t state;
    std::uint32_t next() {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<std::uint32_t>(state >> 33);
    }
    std::uint32_t below(std::uint32_t bound) { return next() % bound; }
};

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
}

std::string uuid(Random& random) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 36; ++i) {
        id += i == 8 || i == 13 || i == 18 || i == 23 ? '-' : i == 14 ? '4' : hex[random.below(16)];
    }
    return id;
}

std::string timestamp(Random& random) {
    char text[32];
    std::snprintf(text, sizeof text, "2026-%02u-%02uT%02u:%02u:%02u.%03uZ", 1 + random.below(12),
                  1 + random.below(28), random.below(24), random.below(60), random.below(60),
                  random.below(1000));
    return text;
}

// One entry whose escaped text is close to, and not over, the given number of bytes.
std::string entry(Random& random, std::size_t textBytes, std::size_t index) {
    std::string text;
    while (true) {
        std::string_view phrase = phrases[random.below(phrases.size())];
        std::string escaped;
        appendEscaped(escaped, phrase);
        if (!text.empty() && text.size() + 1 + escaped.size() > textBytes) break;
        if (!text.empty()) text += ' ';
        text += escaped;
        if (text.size() >= textBytes) break;
    }
    const std::string_view animation = animations[index % 7 < 4 ? 0 : index % 7 - 3];
    std::string out = "{\"id\":\"" + uuid(random) + "\",\"text\":\"" + text + "\",\"sentAt\":\"" +
                      timestamp(random) + "\",\"animation\":\"" + std::string(animation) + "\"";
    // The widget keeps the theme when an intention changes animation; the import drops it there.
    if (animation == "wordart" || index % 3 == 0) {
        out += ",\"wordartTheme\":\"" + std::string(themes[random.below(themes.size())]) + "\"";
    }
    if (index % 50 == 0) out += ",\"pinned\":false";
    return out + "}";
}

} // namespace

std::string backup(std::size_t entries, std::size_t bytes) {
    const std::string head = "{\"format\":\"wishwell-intentions\",\"version\":1,\"exportedAt\":"
                             "\"2026-03-22T19:41:05.000Z\",\"intentions\":[";
    const std::string tail = "]}\n";
    // Everything of an entry but its text, as entry() writes it at most.
    constexpr std::size_t frame = 160;
    Random random{0x5eed};
    std::string text = head;
    text.reserve(bytes);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t left = bytes - text.size() - tail.size();
        const std::size_t share = left / (entries - i);
        if (share <= frame + 20) throw std::invalid_argument("too many entries for the size");
        const std::size_t average = share - frame;
        // Lengths spread from half to one and a half times the average; the shares of the entries
        // still to come absorb the difference, and the last one only gets what is left.
        std::size_t textBytes = average / 2 + random.below(static_cast<std::uint32_t>(average));
        if (i + 1 == entries) textBytes = average;
        if (i > 0) text += ',';
        text += entry(random, textBytes, i);
    }
    text += tail;
    if (text.size() > bytes) throw std::logic_error("the backup came out too large");
    return text;
}

std::string page(const std::string& document) {
    std::string text =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Your intentions \xE2\x80\x94 backup</title>\n</head>\n<body>\n"
        "<h1>Your intentions</h1>\n<p>Import this page in the screensaver's settings.</p>\n"
        "<script id=\"intention-backup\" type=\"application/json\">\n";
    text.reserve(text.size() + document.size() + 32);
    text += document;
    text += "\n</script>\n</body>\n</html>\n";
    return text;
}

std::size_t pageOverhead() { return page("").size(); }

} // namespace generator

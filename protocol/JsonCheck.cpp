#include "JsonCheck.h"

#include <unordered_set>

namespace protocol {

namespace dom = simdjson::dom;

std::optional<std::string> duplicatedKey(dom::element value) {
    dom::array array;
    if (!value.get(array)) {
        for (dom::element item : array)
            if (auto key = duplicatedKey(item)) return key;
        return std::nullopt;
    }
    dom::object object;
    if (value.get(object)) return std::nullopt;
    // Small objects, the usual case, are checked pairwise without allocating.
    constexpr size_t SmallObject = 8;
    if (object.size() <= SmallObject) {
        std::string_view keys[SmallObject];
        size_t n = 0;
        for (dom::key_value_pair field : object) {
            for (size_t i = 0; i < n; ++i)
                if (keys[i] == field.key) return std::string(field.key);
            keys[n++] = field.key;
        }
    } else {
        std::unordered_set<std::string_view> keys;
        keys.reserve(object.size());
        for (dom::key_value_pair field : object)
            if (!keys.insert(field.key).second) return std::string(field.key);
    }
    for (dom::key_value_pair field : object)
        if (auto key = duplicatedKey(field.value)) return key;
    return std::nullopt;
}

bool hasUnstorableCharacter(std::string_view utf8) {
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF") return true;
    // Most texts are short: a plain loop costs less on them than a call to memchr.
    if (utf8.size() < 64) {
        bool nul = false;
        for (const char c : utf8)
            nul |= c == '\0';
        return nul;
    }
    return utf8.find('\0') != std::string_view::npos;
}

const char* const UnstorableCharacterText =
    "um caractere nulo ou uma marca de ordem de bytes (U+FEFF) no início";

} // namespace protocol

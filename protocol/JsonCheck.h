#pragma once
// Checks on parsed JSON that the parser itself leaves open.

#include <simdjson.h>

#include <optional>
#include <string>

namespace protocol {

// The first key that appears twice in one object anywhere inside the value. JSON readers differ
// on such a key (the first wins here, the last in most others), so a message that holds one can
// mean two things and is refused. Linear in the size of the value.
std::optional<std::string> duplicatedKey(simdjson::dom::element value);

// True when a text holds a character that a database text column does not keep as it is: a NUL
// (PostgreSQL refuses it) or a byte-order mark at the start (SQLite's UTF-16 binding drops it).
bool hasUnstorableCharacter(std::string_view utf8);

// The same rule, said to the user: "um caractere nulo ou uma marca de ordem de bytes no início".
extern const char* const UnstorableCharacterText;

} // namespace protocol

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JsonMember;

// One JSON value with object members kept in document order, repeated keys
// included, and integers told apart from numbers with a fraction or exponent.
struct JsonValue {
    enum class Kind { Null, Boolean, Integer, Unsigned, Float, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsigned_integer = 0;
    double number = 0.0;
    std::string text;
    std::vector<JsonValue> elements;
    std::vector<JsonMember> members;
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

// What the caller checks while the text is still being read, so that its own
// faults come in reading order with the syntax faults. Each hook returns a
// fault to stop reading, and receives the column where reading stands.
class JsonTopLevelHooks {
  public:
    virtual ~JsonTopLevelHooks() = default;
    // A member name of the top-level object.
    virtual std::optional<std::string> top_key(const std::string& name, std::size_t column) = 0;
    // A complete member value of the top-level object (`name` set) or element
    // of the top-level array (`name` null).
    virtual std::optional<std::string> top_item(const std::string* name, const JsonValue& value,
                                                std::size_t column) = 0;
    // The complete top-level value, before any trailing text is examined.
    virtual std::optional<std::string> top_complete(JsonValue value, std::size_t column) = 0;
};

constexpr std::size_t json_max_depth = 128;

// Reads exactly one JSON text (RFC 8259, white space around it only).
// Returns the first fault; the reader's own faults end with their position.
std::optional<std::string> read_json(std::string_view text, JsonTopLevelHooks& hooks);

// " at line 1 column <c>"
std::string json_position(std::size_t column);

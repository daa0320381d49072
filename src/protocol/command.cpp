#include "protocol/command.h"

#include "protocol/json_reader.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

namespace {

using Fault = std::optional<std::string>;
using Kind = JsonValue::Kind;

// ---- describing values in faults ----

std::string quote_for_fault(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[12];
                std::snprintf(buffer, sizeof buffer, "\\u{%x}", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string describe(const JsonValue& v) {
    switch (v.kind) {
    case Kind::Null:
        return "null";
    case Kind::Boolean:
        return v.boolean ? "boolean `true`" : "boolean `false`";
    case Kind::Integer:
        return "integer `" + std::to_string(v.integer) + "`";
    case Kind::Unsigned:
        return "integer `" + std::to_string(v.unsigned_integer) + "`";
    case Kind::Float:
        return "floating point `" + format_shortest(v.number) + "`";
    case Kind::String:
        return "string " + quote_for_fault(v.text);
    case Kind::Array:
        return "sequence";
    case Kind::Object:
        return "map";
    }
    return "null";
}

std::string invalid_type(const JsonValue& v, const std::string& expected) {
    return "invalid type: " + describe(v) + ", expected " + expected;
}

std::string integer_text(const JsonValue& v) {
    return v.kind == Kind::Integer ? std::to_string(v.integer) : std::to_string(v.unsigned_integer);
}

std::string invalid_value(const JsonValue& v, const std::string& expected) {
    return "invalid value: integer `" + integer_text(v) + "`, expected " + expected;
}

// ---- value conversions ----

Fault to_string(const JsonValue& v, std::string& out) {
    if (v.kind != Kind::String)
        return invalid_type(v, "a string");
    out = v.text;
    return std::nullopt;
}

Fault to_bool(const JsonValue& v, bool& out) {
    if (v.kind != Kind::Boolean)
        return invalid_type(v, "a boolean");
    out = v.boolean;
    return std::nullopt;
}

Fault to_u32(const JsonValue& v, std::uint32_t& out) {
    if (v.kind == Kind::Unsigned &&
        v.unsigned_integer <= std::numeric_limits<std::uint32_t>::max()) {
        out = static_cast<std::uint32_t>(v.unsigned_integer);
        return std::nullopt;
    }
    if (v.kind == Kind::Unsigned || v.kind == Kind::Integer)
        return invalid_value(v, "u32");
    return invalid_type(v, "u32");
}

Fault to_i64(const JsonValue& v, std::int64_t& out) {
    if (v.kind == Kind::Integer) {
        out = v.integer;
        return std::nullopt;
    }
    if (v.kind == Kind::Unsigned) {
        if (v.unsigned_integer >
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return invalid_value(v, "i64");
        out = static_cast<std::int64_t>(v.unsigned_integer);
        return std::nullopt;
    }
    return invalid_type(v, "i64");
}

template <class T, class Convert>
Fault to_optional(const JsonValue& v, std::optional<T>& out, Convert convert) {
    if (v.kind == Kind::Null) {
        out.reset();
        return std::nullopt;
    }
    T value{};
    if (Fault fault = convert(v, value))
        return fault;
    out = std::move(value);
    return std::nullopt;
}

Fault to_optional_string(const JsonValue& v, std::optional<std::string>& out) {
    return to_optional(v, out, to_string);
}

Fault to_optional_i64(const JsonValue& v, std::optional<std::int64_t>& out) {
    return to_optional(v, out, to_i64);
}

// ---- records: object form and array form ----

struct Field {
    const char* name;
    bool required;
    std::function<Fault(const JsonValue&)> decode;
};

struct Record {
    std::vector<Field> fields;
    std::string expecting; // "struct Start with 14 elements"
};

Fault decode_members(const std::vector<const JsonMember*>& members, const Record& record) {
    std::vector<bool> seen(record.fields.size(), false);
    for (const JsonMember* member : members) {
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            if (member->name != record.fields[i].name)
                continue;
            if (seen[i])
                return "duplicate field `" + member->name + "`";
            seen[i] = true;
            if (Fault fault = record.fields[i].decode(member->value))
                return fault;
            break;
        }
    }
    for (std::size_t i = 0; i < record.fields.size(); ++i)
        if (!seen[i] && record.fields[i].required)
            return std::string("missing field `") + record.fields[i].name + "`";
    return std::nullopt;
}

std::string too_many_elements(std::size_t given, std::size_t read) {
    return "invalid length " + std::to_string(given) + ", expected " + std::to_string(read) +
           (read == 1 ? " element in sequence" : " elements in sequence");
}

Fault decode_elements(const std::vector<const JsonValue*>& elements, const Record& record) {
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
        if (i >= elements.size()) {
            if (record.fields[i].required)
                return "invalid length " + std::to_string(i) + ", expected " + record.expecting;
            continue;
        }
        if (Fault fault = record.fields[i].decode(*elements[i]))
            return fault;
    }
    if (elements.size() > record.fields.size())
        return too_many_elements(elements.size(), record.fields.size());
    return std::nullopt;
}

// The payload of one alternative, as object members or as array elements.
struct Payload {
    bool is_array = false;
    std::vector<const JsonMember*> members;
    std::vector<const JsonValue*> elements;
};

Fault decode_payload(const Payload& payload, const Record& record) {
    return payload.is_array ? decode_elements(payload.elements, record)
                            : decode_members(payload.members, record);
}

// Unit alternatives ignore object members but refuse extra array elements.
Fault decode_unit(const Payload& payload) {
    if (payload.is_array && !payload.elements.empty())
        return too_many_elements(payload.elements.size(), 0);
    return std::nullopt;
}

// ---- tags ----

struct TagSet {
    std::vector<const char*> names;
    std::string unknown_expected; // "`window` or `monitor`"
};

std::string unknown_variant(const std::string& name, const TagSet& tags) {
    return "unknown variant `" + name + "`, expected " + tags.unknown_expected;
}

Fault tag_by_name(const JsonValue& v, const TagSet& tags, std::size_t& index) {
    if (v.kind != Kind::String)
        return invalid_type(v, "variant identifier");
    for (std::size_t i = 0; i < tags.names.size(); ++i) {
        if (v.text == tags.names[i]) {
            index = i;
            return std::nullopt;
        }
    }
    return unknown_variant(v.text, tags);
}

// Nested choices also take the alternative's index.
Fault tag_by_name_or_index(const JsonValue& v, const TagSet& tags, std::size_t& index) {
    if (v.kind == Kind::Unsigned) {
        if (v.unsigned_integer >= tags.names.size())
            return "invalid value: integer `" + std::to_string(v.unsigned_integer) +
                   "`, expected variant index 0 <= i < " + std::to_string(tags.names.size());
        index = static_cast<std::size_t>(v.unsigned_integer);
        return std::nullopt;
    }
    return tag_by_name(v, tags, index);
}

// Splits a nested object or array into its tag and its payload.
Fault split_nested(const JsonValue& v, const char* enum_name, const TagSet& tags,
                   std::size_t& index, Payload& payload) {
    if (v.kind == Kind::Object) {
        bool seen = false;
        for (const JsonMember& member : v.members) {
            if (member.name != "kind") {
                payload.members.push_back(&member);
                continue;
            }
            if (seen)
                return std::string("duplicate field `kind`");
            seen = true;
            if (Fault fault = tag_by_name_or_index(member.value, tags, index))
                return fault;
        }
        if (!seen)
            return std::string("missing field `kind`");
        return std::nullopt;
    }
    if (v.kind == Kind::Array) {
        if (v.elements.empty())
            return std::string("missing field `kind`");
        if (Fault fault = tag_by_name_or_index(v.elements[0], tags, index))
            return fault;
        payload.is_array = true;
        for (std::size_t i = 1; i < v.elements.size(); ++i)
            payload.elements.push_back(&v.elements[i]);
        return std::nullopt;
    }
    return invalid_type(v, std::string("internally tagged enum ") + enum_name);
}

// ---- the nested choices ----

const TagSet source_tags{{"window", "monitor"}, "`window` or `monitor`"};
const TagSet audio_tags{{"process", "desktop", "none"}, "one of `process`, `desktop`, `none`"};
const TagSet command_tags{{"start", "mask", "save", "stop", "stats", "quit"},
                          "one of `start`, `mask`, `save`, `stop`, `stats`, `quit`"};

Fault decode_source(const JsonValue& v, Source& out) {
    std::size_t index = 0;
    Payload payload;
    if (Fault fault = split_nested(v, "Source", source_tags, index, payload))
        return fault;
    if (index == 0) {
        Source::Window window;
        Record record{
            {{"window", true, [&](const JsonValue& x) { return to_string(x, window.window); }}},
            "struct variant Source::Window with 1 element"};
        if (Fault fault = decode_payload(payload, record))
            return fault;
        out.value = std::move(window);
        return std::nullopt;
    }
    Source::Monitor monitor;
    Record record{
        {{"monitor", true, [&](const JsonValue& x) { return to_string(x, monitor.monitor); }},
         {"method", false, [&](const JsonValue& x) { return to_optional_i64(x, monitor.method); }},
         {"window", false,
          [&](const JsonValue& x) { return to_optional_string(x, monitor.window); }}},
        "struct variant Source::Monitor with 3 elements"};
    if (Fault fault = decode_payload(payload, record))
        return fault;
    out.value = std::move(monitor);
    return std::nullopt;
}

Fault decode_audio(const JsonValue& v, Audio& out) {
    std::size_t index = 0;
    Payload payload;
    if (Fault fault = split_nested(v, "Audio", audio_tags, index, payload))
        return fault;
    if (index == 0) {
        Audio::Process process;
        Record record{
            {{"window", true, [&](const JsonValue& x) { return to_string(x, process.window); }}},
            "struct variant Audio::Process with 1 element"};
        if (Fault fault = decode_payload(payload, record))
            return fault;
        out.value = std::move(process);
        return std::nullopt;
    }
    if (Fault fault = decode_unit(payload))
        return fault;
    if (index == 1)
        out.value = Audio::Desktop{};
    else
        out.value = Audio::None{};
    return std::nullopt;
}

Fault decode_start(const Payload& payload, Start& s) {
    auto u32 = [](std::uint32_t& target) {
        return [&target](const JsonValue& x) { return to_u32(x, target); };
    };
    Record record{
        {{"mode", true, [&](const JsonValue& x) { return to_string(x, s.mode); }},
         {"path", true, [&](const JsonValue& x) { return to_string(x, s.path); }},
         {"replayDir", false,
          [&](const JsonValue& x) { return to_optional_string(x, s.replay_dir); }},
         {"source", true, [&](const JsonValue& x) { return decode_source(x, s.source); }},
         {"baseWidth", true, u32(s.base_width)},
         {"baseHeight", true, u32(s.base_height)},
         {"width", true, u32(s.width)},
         {"height", true, u32(s.height)},
         {"fps", true, u32(s.fps)},
         {"bitrate", true, u32(s.bitrate)},
         {"audio", true, [&](const JsonValue& x) { return decode_audio(x, s.audio); }},
         {"replaySeconds", false, u32(s.replay_seconds)},
         {"replayMaxMb", false, u32(s.replay_max_mb)},
         {"encoder", false, [&](const JsonValue& x) { return to_optional_string(x, s.encoder); }}},
        "struct Start with 14 elements"};
    return decode_payload(payload, record);
}

Fault decode_command(std::size_t index, const Payload& payload, Command& out) {
    switch (index) {
    case 0: {
        Start start;
        if (Fault fault = decode_start(payload, start))
            return fault;
        out.value = std::move(start);
        return std::nullopt;
    }
    case 1: {
        Command::Mask mask;
        Record record{
            {{"hidden", true, [&](const JsonValue& x) { return to_bool(x, mask.hidden); }}},
            "struct variant Command::Mask with 1 element"};
        if (Fault fault = decode_payload(payload, record))
            return fault;
        out.value = mask;
        return std::nullopt;
    }
    default:
        break;
    }
    if (Fault fault = decode_unit(payload))
        return fault;
    switch (index) {
    case 2:
        out.value = Command::Save{};
        break;
    case 3:
        out.value = Command::Stop{};
        break;
    case 4:
        out.value = Command::Stats{};
        break;
    default:
        out.value = Command::Quit{};
        break;
    }
    return std::nullopt;
}

// Checks the tag while the line is read, then decodes the payload once the
// top-level value is complete, so faults come in reading order.
class CommandHooks : public JsonTopLevelHooks {
  public:
    std::optional<Command> command;

    std::optional<std::string> top_key(const std::string& name, std::size_t column) override {
        if (name != "cmd")
            return std::nullopt;
        if (seen_tag_)
            return "duplicate field `cmd`" + json_position(column);
        seen_tag_ = true;
        return std::nullopt;
    }

    std::optional<std::string> top_item(const std::string* name, const JsonValue& value,
                                        std::size_t column) override {
        bool is_tag = name ? *name == "cmd" : items_++ == 0;
        if (!is_tag)
            return std::nullopt;
        if (Fault fault = tag_by_name(value, command_tags, tag_))
            return *fault + json_position(column);
        return std::nullopt;
    }

    std::optional<std::string> top_complete(JsonValue value, std::size_t column) override {
        Payload payload;
        if (value.kind == Kind::Object) {
            if (!seen_tag_)
                return "missing field `cmd`" + json_position(column);
            for (const JsonMember& member : value.members)
                if (member.name != "cmd")
                    payload.members.push_back(&member);
        } else if (value.kind == Kind::Array) {
            if (value.elements.empty())
                return "missing field `cmd`" + json_position(column);
            payload.is_array = true;
            for (std::size_t i = 1; i < value.elements.size(); ++i)
                payload.elements.push_back(&value.elements[i]);
        } else {
            return invalid_type(value, "internally tagged enum Command") + json_position(column);
        }
        Command decoded;
        if (Fault fault = decode_command(tag_, payload, decoded))
            return fault;
        command = std::move(decoded);
        return std::nullopt;
    }

  private:
    bool seen_tag_ = false;
    std::size_t items_ = 0;
    std::size_t tag_ = 0;
};

} // namespace

std::string format_shortest(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

ParsedCommand parse_command(std::string_view line) {
    CommandHooks hooks;
    ParsedCommand parsed;
    if (Fault fault = read_json(line, hooks)) {
        parsed.fault = std::move(*fault);
        return parsed;
    }
    parsed.command = std::move(hooks.command);
    return parsed;
}

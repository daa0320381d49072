#include "protocol/json_reader.h"

#include <iterator>
#include <nlohmann/json.hpp>

namespace {

// A character iterator that publishes how far the JSON lexer has read.
struct CountingIterator {
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    const char* at = nullptr;
    const char** cursor = nullptr;

    reference operator*() const { return *at; }
    CountingIterator& operator++() {
        ++at;
        *cursor = at;
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator& other) const { return at == other.at; }
    bool operator!=(const CountingIterator& other) const { return at != other.at; }
};

// The library's own wording of a syntax fault, without the "[json.exception.
// parse_error.<id>] parse error at line <l>, column <c>: " that leads it; the
// position itself is taken from the parser, not from this text.
std::string syntax_fault_text(const nlohmann::detail::exception& ex) {
    std::string message = ex.what();
    std::size_t name_end = message.find("] ");
    if (message.rfind("[json.exception.", 0) == 0 && name_end != std::string::npos)
        message.erase(0, name_end + 2);
    const std::string located = "parse error at line ";
    if (message.rfind(located, 0) == 0) {
        std::size_t colon = message.find(": ");
        if (colon != std::string::npos)
            message.erase(0, colon + 2);
    }
    return message;
}

class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
  public:
    TreeBuilder(const char* begin, const char** cursor, JsonTopLevelHooks& hooks)
        : begin_(begin), cursor_(cursor), hooks_(hooks) {}

    std::optional<std::string> fault;

    bool null() override { return scalar(JsonValue{}); }
    bool boolean(bool value) override {
        JsonValue v;
        v.kind = JsonValue::Kind::Boolean;
        v.boolean = value;
        return scalar(std::move(v));
    }
    bool number_integer(number_integer_t value) override {
        JsonValue v;
        v.kind = JsonValue::Kind::Integer;
        v.integer = value;
        return scalar(std::move(v));
    }
    bool number_unsigned(number_unsigned_t value) override {
        JsonValue v;
        v.kind = JsonValue::Kind::Unsigned;
        v.unsigned_integer = value;
        return scalar(std::move(v));
    }
    bool number_float(number_float_t value, const string_t&) override {
        JsonValue v;
        v.kind = JsonValue::Kind::Float;
        v.number = value;
        return scalar(std::move(v));
    }
    bool string(string_t& value) override {
        JsonValue v;
        v.kind = JsonValue::Kind::String;
        v.text = std::move(value);
        return scalar(std::move(v));
    }
    bool binary(binary_t&) override { return scalar(JsonValue{}); }

    bool start_object(std::size_t) override { return open(JsonValue::Kind::Object); }
    bool start_array(std::size_t) override { return open(JsonValue::Kind::Array); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& name) override {
        JsonValue* object = open_.back();
        object->members.push_back(JsonMember{name, JsonValue{}});
        if (open_.size() == 1)
            return check(hooks_.top_key(object->members.back().name, column()));
        return true;
    }

    // `position` counts the bytes read; on a single line that is the column.
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& ex) override {
        if (!fault)
            fault = syntax_fault_text(ex) + json_position(position);
        return false;
    }

  private:
    std::size_t column() const { return static_cast<std::size_t>(*cursor_ - begin_); }

    bool check(std::optional<std::string> hook_fault) {
        if (!hook_fault)
            return true;
        fault = std::move(hook_fault);
        return false;
    }

    JsonValue* place(JsonValue value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        JsonValue* parent = open_.back();
        if (parent->kind == JsonValue::Kind::Array) {
            parent->elements.push_back(std::move(value));
            return &parent->elements.back();
        }
        parent->members.back().value = std::move(value);
        return &parent->members.back().value;
    }

    bool scalar(JsonValue value) { return completed(place(std::move(value))); }

    bool open(JsonValue::Kind kind) {
        if (open_.size() >= json_max_depth) {
            fault = "recursion limit exceeded" + json_position(column());
            return false;
        }
        JsonValue v;
        v.kind = kind;
        open_.push_back(place(std::move(v)));
        return true;
    }

    bool close() {
        JsonValue* done = open_.back();
        open_.pop_back();
        return completed(done);
    }

    bool completed(JsonValue* value) {
        if (open_.empty())
            return check(hooks_.top_complete(std::move(*value), column()));
        if (open_.size() == 1) {
            JsonValue* parent = open_.front();
            const std::string* name =
                parent->kind == JsonValue::Kind::Object ? &parent->members.back().name : nullptr;
            return check(hooks_.top_item(name, *value, column()));
        }
        return true;
    }

    const char* begin_;
    const char** cursor_;
    JsonTopLevelHooks& hooks_;
    JsonValue root_;
    std::vector<JsonValue*> open_;
};

} // namespace

std::string json_position(std::size_t column) {
    return " at line 1 column " + std::to_string(column);
}

std::optional<std::string> read_json(std::string_view text, JsonTopLevelHooks& hooks) {
    const char* cursor = text.data();
    CountingIterator first{text.data(), &cursor};
    CountingIterator last{text.data() + text.size(), &cursor};
    TreeBuilder builder(text.data(), &cursor, hooks);
    bool ok = nlohmann::json::sax_parse(first, last, &builder);
    if (!ok && !builder.fault)
        return "invalid JSON" + json_position(static_cast<std::size_t>(cursor - text.data()));
    // The library takes a NUL byte for the end of its input: one after a
    // complete value would hide whatever follows it.
    std::size_t nul = text.find('\0');
    if (ok && nul != std::string_view::npos)
        return "syntax error while parsing value - unexpected '<U+0000>'; expected end of input" +
               json_position(nul + 1);
    return builder.fault;
}

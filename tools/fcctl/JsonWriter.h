#ifndef FCCTL_JSONWRITER_H
#define FCCTL_JSONWRITER_H

// A small streaming JSON writer for fcctl's --json output. The library's public interface exposes no
// JSON library, so fcctl writes its own: indented output, full string escaping, and invalid UTF-8
// replaced by U+FFFD so that every document it writes parses.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace fcctl {

/// Writes one JSON document to a stream. Calls must nest correctly (Key only inside objects).
class JsonWriter {
  public:
    /// @param out the stream written to
    /// @param indent spaces per nesting level; 0 writes everything on one line
    explicit JsonWriter(std::ostream& out, int indent = 2);

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    /// Starts a member of the current object; the next value belongs to it.
    JsonWriter& Key(std::string_view key);

    JsonWriter& String(std::string_view value);
    JsonWriter& Int(std::int64_t value);
    JsonWriter& UInt(std::uint64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    /// Shorthands for a member and its value.
    JsonWriter& Member(std::string_view key, std::string_view value) { return Key(key).String(value); }
    JsonWriter& Member(std::string_view key, const char* value) { return Key(key).String(value); }
    JsonWriter& Member(std::string_view key, const std::string& value) { return Key(key).String(value); }
    JsonWriter& Member(std::string_view key, bool value) { return Key(key).Bool(value); }
    JsonWriter& Member(std::string_view key, int value) { return Key(key).Int(value); }
    JsonWriter& Member(std::string_view key, long value) { return Key(key).Int(value); }
    JsonWriter& Member(std::string_view key, long long value) { return Key(key).Int(value); }
    JsonWriter& Member(std::string_view key, unsigned long value) { return Key(key).UInt(value); }
    JsonWriter& Member(std::string_view key, unsigned long long value) { return Key(key).UInt(value); }

    /// Ends the document with a newline (call once, after the outermost value).
    void Finish();

    /// The JSON text of a string, quotes included.
    static std::string Quote(std::string_view value);

  private:
    void BeforeValue();
    void NewLine();
    JsonWriter& Close(char bracket);

    struct Level {
        bool isObject = false;
        bool empty = true;
    };

    std::ostream& out_;
    int indent_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

}  // namespace fcctl

#endif  // FCCTL_JSONWRITER_H

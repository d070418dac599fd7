#include "BackupState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace fcctl {

namespace {

namespace json = boost::json;

const char kFormatKey[] = "fcctlBackupState";
const int kFormat = 2;
const char kNotAStateFile[] = "not an fcctl backup state file";
const char kUnsupportedVersion[] = "unsupported state file version";

// The members that hold the state's texts.
const std::pair<const char*, std::string BackupState::*> kTexts[] = {
    {"vmUrn", &BackupState::vmUrn},
    {"vmUuid", &BackupState::vmUuid},
    {"time", &BackupState::time},
    {"snapshotUrn", &BackupState::snapshotUrn},
};

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Reads a text member when present; any other type is an error.
bool ReadText(const json::object& object, const char* key, std::string& out, std::string& error) {
    const json::value* value = object.if_contains(key);
    if (value == nullptr) return true;
    if (!value->is_string()) {
        error = std::string("\"") + key + "\" is not a string";
        return false;
    }
    out = std::string(value->get_string());
    return true;
}

bool ParseJsonState(const std::string& text, BackupState& state, std::string& error) {
    // Tokens are handed back to the VRM byte for byte, so bytes that are not UTF-8 are kept as they are.
    json::parse_options options;
    options.allow_invalid_utf8 = true;
    boost::system::error_code ec;
    const json::value document = json::parse(text, ec, json::storage_ptr(), options);
    const json::object* object = ec ? nullptr : document.if_object();
    if (object == nullptr || !object->contains(kFormatKey)) {
        error = kNotAStateFile;
        return false;
    }
    const json::value& format = object->at(kFormatKey);
    if (!format.is_int64() || format.get_int64() != kFormat) {
        error = kUnsupportedVersion;
        return false;
    }
    for (const auto& member : kTexts) {
        if (!ReadText(*object, member.first, state.*member.second, error)) return false;
    }
    const json::value* tokens = object->if_contains("tokens");
    if (tokens == nullptr) return true;
    if (!tokens->is_object()) {
        error = "\"tokens\" is not an object";
        return false;
    }
    for (const json::key_value_pair& token : tokens->get_object()) {
        if (!token.value().is_string()) {
            error = "the token of " + std::string(token.key()) + " is not a string";
            return false;
        }
        state.tokens[std::string(token.key())] = std::string(token.value().get_string());
    }
    return true;
}

// Version 1: lines of tab-separated fields in which backslash, tab, new line and carriage return are
// escaped. Splits a line at its tabs and undoes the escapes; false for an unknown escape.
bool SplitLine(const std::string& line, std::vector<std::string>& fields) {
    static const std::string kEscaped = "\\tnr", kPlain = "\\\t\n\r";
    fields.assign(1, std::string());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') {
            fields.emplace_back();
        } else if (line[i] != '\\') {
            fields.back() += line[i];
        } else {
            const std::size_t escape = i + 1 < line.size() ? kEscaped.find(line[++i]) : std::string::npos;
            if (escape == std::string::npos) return false;
            fields.back() += kPlain[escape];
        }
    }
    return true;
}

bool ParseLine(const std::string& line, BackupState& state, bool& sawMagic, std::string& error) {
    if (line.empty() || line[0] == '#') return true;
    std::vector<std::string> fields;
    if (!SplitLine(line, fields)) {
        error = "bad escape in line \"" + line + "\"";
        return false;
    }
    const std::string& key = fields[0];
    if (key == "fcctl-backup-state") {
        if (fields.size() != 2 || fields[1] != "1") {
            error = kUnsupportedVersion;
            return false;
        }
        sawMagic = true;
        return true;
    }
    if (!sawMagic) {
        error = kNotAStateFile;
        return false;
    }
    if (key == "disk") {
        if (fields.size() != 3) {
            error = "a disk line needs a volume URN and a token";
            return false;
        }
        state.tokens[fields[1]] = fields[2];
        return true;
    }
    if (fields.size() != 2) return true;  // unknown keys of later versions are skipped
    if (key == "vm") state.vmUrn = fields[1];
    if (key == "vmuuid") state.vmUuid = fields[1];
    if (key == "time") state.time = fields[1];
    if (key == "snapshot") state.snapshotUrn = fields[1];
    return true;
}

bool ParseLineState(const std::string& text, BackupState& state, std::string& error) {
    std::istringstream in(text);
    bool sawMagic = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!ParseLine(line, state, sawMagic, error)) return false;
    }
    if (!sawMagic) error = kNotAStateFile;
    return sawMagic;
}

}  // namespace

bool LoadBackupState(const std::string& path, BackupState& state, bool& exists, std::string& error) {
    state = BackupState();
    exists = false;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return true;
        error = SystemError("cannot read", path);
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = SystemError("cannot read", path);
        return false;
    }
    exists = true;
    std::ostringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const bool isJson = first != std::string::npos && text[first] == '{';
    if (!(isJson ? ParseJsonState(text, state, error) : ParseLineState(text, state, error))) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error,
                         unsigned mode) {
    // The temporary file must be new and our own: a file or symbolic link planted under its name is
    // neither followed nor truncated, another name is tried instead.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = SystemError("cannot create", temp);
        return false;
    }
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = SystemError("cannot write", temp);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = SystemError("cannot flush", temp);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = SystemError("cannot replace", path);
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool SaveBackupState(const std::string& path, const BackupState& state, std::string& error) {
    json::object document{{kFormatKey, kFormat}};
    for (const auto& member : kTexts) document.emplace(member.first, state.*member.second);
    json::object& tokens = document.emplace("tokens", json::object()).first->value().as_object();
    for (const auto& token : state.tokens) tokens.emplace(token.first, token.second);
    return WriteFileAtomically(path, json::serialize(document) + "\n", error);
}

}  // namespace fcctl

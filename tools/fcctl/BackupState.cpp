#include "BackupState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace fcctl {

namespace {

const char kMagic[] = "fcctl-backup-state";
const char kVersion[] = "1";

std::string Escape(const std::string& value) {
    std::string out;
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool Unescape(const std::string& value, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size()) return false;
        switch (value[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return false;
        }
    }
    return true;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = line.find('\t', begin);
        fields.push_back(line.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return fields;
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool ParseLine(const std::string& line, BackupState& state, bool& sawMagic, std::string& error) {
    if (line.empty() || line[0] == '#') return true;
    std::vector<std::string> fields = SplitTabs(line);
    for (std::string& field : fields) {
        std::string plain;
        if (!Unescape(field, plain)) {
            error = "bad escape in line \"" + line + "\"";
            return false;
        }
        field = plain;
    }
    const std::string& key = fields[0];
    if (key == kMagic) {
        if (fields.size() != 2 || fields[1] != kVersion) {
            error = "unsupported state file version";
            return false;
        }
        sawMagic = true;
        return true;
    }
    if (!sawMagic) {
        error = "not an fcctl backup state file";
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
    bool sawMagic = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!ParseLine(line, state, sawMagic, error)) {
            error = path + ": " + error;
            return false;
        }
    }
    if (!sawMagic) {
        error = path + ": not an fcctl backup state file";
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
    std::ostringstream out;
    out << "# State of fcctl backup: the change token of each disk at the last backup. Do not edit.\n";
    out << kMagic << '\t' << kVersion << '\n';
    out << "vm\t" << Escape(state.vmUrn) << '\n';
    out << "vmuuid\t" << Escape(state.vmUuid) << '\n';
    out << "time\t" << Escape(state.time) << '\n';
    out << "snapshot\t" << Escape(state.snapshotUrn) << '\n';
    for (const auto& disk : state.tokens)
        out << "disk\t" << Escape(disk.first) << '\t' << Escape(disk.second) << '\n';
    return WriteFileAtomically(path, out.str(), error);
}

}  // namespace fcctl

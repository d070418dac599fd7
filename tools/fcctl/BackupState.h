#ifndef FCCTL_BACKUPSTATE_H
#define FCCTL_BACKUPSTATE_H

// The state file of `fcctl backup`: which VM it belongs to and the change token of each disk at the
// last backup. A JSON document on one line,
//   {"fcctlBackupState": 2, "vmUrn": ..., "vmUuid": ..., "time": ..., "snapshotUrn": ...,
//    "tokens": {"<volume URN>": "<change token>", ...}}
// replaced atomically (temporary file, fsync, rename). Files of version 1, lines of "key<TAB>value..."
// with \t, \n, \r and \\ escaped, are still read.

#include <map>
#include <string>

namespace fcctl {

/// What one backup leaves for the next.
struct BackupState {
    std::string vmUrn;                          ///< URN of the VM backed up
    std::string vmUuid;                         ///< UUID of the VM backed up
    std::string time;                           ///< when the backup finished (UTC, ISO 8601)
    std::string snapshotUrn;                    ///< the snapshot the tokens were read from (now deleted)
    std::map<std::string, std::string> tokens;  ///< change token by volume URN
};

/// Reads a state file.
/// @param path the file
/// @param state receives the state
/// @param exists receives whether the file exists (a missing file is not an error: first backup)
/// @param error receives a message on failure
/// @return false when the file exists but cannot be read or is not a state file of version 1 or 2
bool LoadBackupState(const std::string& path, BackupState& state, bool& exists, std::string& error);

/// Replaces the state file atomically: the new content is written to a temporary file beside it,
/// flushed to disk and renamed over the old one, so a crash leaves either the old or the new state.
/// @param path the file
/// @param state the state to keep
/// @param error receives a message on failure
/// @return false when the file could not be written (the old state is then untouched)
bool SaveBackupState(const std::string& path, const BackupState& state, std::string& error);

/// Writes `content` to `path` atomically (as SaveBackupState does).
/// @param mode permission bits of a new file (the umask applies)
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error,
                         unsigned mode = 0600);

}  // namespace fcctl

#endif  // FCCTL_BACKUPSTATE_H

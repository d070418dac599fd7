#ifndef VRMSIM_STATE_H
#define VRMSIM_STATE_H

// Session tokens and the request recorder. Both are guarded by the model's mutex, which the
// simulator holds while it handles a request.

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "Http.h"
#include "VrmSimulator.h"

namespace vrmsim {

/// Session tokens issued by logins.
class Sessions {
  public:
    /// A new random token valid for `lifetimeSeconds` from `now` (0: until expired by hand).
    std::string Issue(std::int64_t now, int lifetimeSeconds);
    /// Whether the token is live; an outdated one is dropped.
    bool Valid(const std::string& token, std::int64_t now);
    /// Drops one token (logout). Returns whether it was live.
    bool Drop(const std::string& token);
    /// Drops every token; returns how many there were.
    std::size_t ExpireAll();
    /// Tokens still live at `now`.
    std::size_t Live(std::int64_t now);

  private:
    std::map<std::string, std::int64_t> expiry_;  ///< token -> end (0 = never)
};

/// Recorded VRM requests and the counters of the stats endpoint.
class Recorder {
  public:
    /// Counts the request and, when `keep`, stores it; returns the stored record (or a scratch one).
    RecordedRequest& Record(const HttpRequest& request, bool keep, std::size_t maxKept);
    const std::deque<RecordedRequest>& Requests() const { return requests_; }
    /// Forgets the records; returns how many there were.
    std::size_t ClearRequests();
    Stats& stats() { return stats_; }
    /// Forgets records and counters.
    void Reset();

  private:
    std::deque<RecordedRequest> requests_;
    RecordedRequest scratch_;
    std::uint64_t nextSeq_ = 1;
    Stats stats_;
};

/// Random bytes as upper-case hex.
std::string RandomHex(std::size_t bytes);

}  // namespace vrmsim

#endif  // VRMSIM_STATE_H

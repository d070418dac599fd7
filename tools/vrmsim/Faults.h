#ifndef VRMSIM_FAULTS_H
#define VRMSIM_FAULTS_H

// Fault rules: which requests fail and how the answer is spoiled.

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include <optional>
#include <string>
#include <vector>

#include "Http.h"
#include "VrmSimulator.h"

namespace vrmsim {

/// The pending fault rules, in the order added.
class FaultTable {
  public:
    void Add(const Fault& fault);
    std::size_t Clear();
    std::size_t Pending() const { return rules_.size(); }
    const std::vector<Fault>& Rules() const { return rules_; }
    /// The fault for this request, if a rule fires; consumes one use of that rule.
    std::optional<Fault> Take(const HttpRequest& request);

  private:
    std::vector<Fault> rules_;  ///< `skip` and `count` count down as requests match
};

/// The name of a kind as used in JSON ("status", "html", ...).
const char* FaultKindName(FaultKind kind);
/// Reads a fault from its JSON description; false with a message when invalid.
bool FaultFromJson(const boost::json::object& object, Fault& fault, std::string& error);
/// Reads one fault object or {"faults": [...]}; false with a message when anything is invalid.
bool FaultsFromJson(const boost::json::value& body, std::vector<Fault>& faults, std::string& error);
/// The JSON description of a fault.
boost::json::object FaultToJson(const Fault& fault);

/// Whether the fault needs the real answer (the request is handled normally first).
bool FaultNeedsAnswer(FaultKind kind);
/// The answer of a fault that replaces the real one (status, html, body, oversize, close).
HttpResponse FaultAnswer(const Fault& fault);
/// The real answer spoiled by a fault (stall, drop, truncate, wrongtypes).
HttpResponse SpoilAnswer(const Fault& fault, HttpResponse answer);

}  // namespace vrmsim

#endif  // VRMSIM_FAULTS_H

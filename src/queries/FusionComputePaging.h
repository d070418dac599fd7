#ifndef FCSDK_QUERIES_FUSIONCOMPUTEPAGING_H
#define FCSDK_QUERIES_FUSIONCOMPUTEPAGING_H

// The generic engine of CFusionComputeQueries: a list read page by page, one object found by a search of
// a list, one object read from a link made from its URN. Internal: only the queries' own source file
// instantiates these templates.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "connection/FusionComputeLinks.h"
#include "platform/FXString.h"
#include "queries/FusionComputeQueries.h"

namespace FusionComputeSDKWrapper {

template <typename T>
bool CFusionComputeQueries::GetListFromLink(const std::string& path, const std::string& listKey,
                                            std::vector<T>& list) {
    list.clear();
    std::set<std::string> seen;  // URNs of the objects kept in this pass
    std::size_t received = 0;    // entries received in this pass: the offset of the next page
    int64_t expected = -1;       // the total of this pass's first page
    int restarts = 0;
    for (;;) {
        std::string pagePath = path;
        if (received > 0) SetPageOffset(pagePath, received);
        std::string answer;
        if (!connection->get(pagePath, answer, nullptr)) {
            RecordFailedRequest(answer);
            return false;
        }
        std::vector<T> page;
        int64_t total = 0;
        if (!parser->ParsePagedList<T>(answer, listKey, page, total)) {
            SetLastError(UnreadableAnswerMessage(pagePath));
            return false;
        }
        // A count no VRM can hold, a page that adds nothing while objects are missing, or a list that
        // keeps changing under us: asking on would never end, and handing out what was read as the
        // whole list would hide the loss.
        bool ended = total < 0 || total > kMaxListObjects;
        if (!ended && received > 0 && (total != expected || HasRepeatedUrn(page, seen))) {
            // Objects were created or deleted while the pages were read (or the VRM served a page
            // again): the offsets no longer line up, so the read starts over.
            ended = restarts >= kMaxListRestarts;
            if (!ended) {
                debug.Debug(__PRETTY_FUNCTION__, "List [%s] changed while it was read; reading it again",
                            path.c_str());
                ++restarts;
                list.clear();
                seen.clear();
                received = 0;
                expected = -1;
                continue;
            }
        }
        if (!ended && page.empty() && received < static_cast<uint64_t>(total)) ended = true;
        if (ended) {
            const std::string message =
                FXString::Format("List [%s] ended after %zu of %lld objects", path.c_str(), list.size(),
                                 static_cast<long long>(total));
            debug.Error(__PRETTY_FUNCTION__, "%s", message.c_str());
            SetLastError(message);
            return false;
        }
        expected = total;
        received += page.size();
        for (T& record : page) {
            // Each object once, also when a page names it twice.
            if (!record.urn.empty() && !seen.insert(record.urn).second) continue;
            list.push_back(std::move(record));
        }
        if (total == 0 || received >= static_cast<uint64_t>(total)) return true;
    }
}

template <typename T>
bool CFusionComputeQueries::HasRepeatedUrn(const std::vector<T>& page, const std::set<std::string>& seen) {
    std::set<std::string> onPage;
    for (const T& record : page) {
        if (record.urn.empty()) continue;
        if (seen.count(record.urn) != 0 || !onPage.insert(record.urn).second) return true;
    }
    return false;
}

template <typename T>
bool CFusionComputeQueries::GetListFromLink(const SSiteInfoLib& site, const std::string& path,
                                            const std::string& listKey, std::vector<T>& list) {
    return GetListFromLink<T>(site.uri + path, listKey, list);
}

template <typename T>
bool CFusionComputeQueries::GetListFromLink(const SSiteInfoLib& site, const std::string& path,
                                            const std::string& query, const std::string& listKey,
                                            std::vector<T>& list) {
    return GetListFromLink<T>(site.uri + path + "?" + query, listKey, list);
}

template <typename T>
bool CFusionComputeQueries::GetOneObjectFromLink(const SSiteInfoLib& site, const std::string& path,
                                                 const std::string& query, const std::string& listKey,
                                                 T& object) {
    std::vector<T> candidates;
    if (!GetListFromLink<T>(site, path, query, listKey, candidates)) return false;

    std::string searchedName;
    const bool byName = FindSearchedName(query, searchedName);

    if (candidates.empty()) {
        debug.Error(__PRETTY_FUNCTION__, "No objects found for [%s][%s]", path.c_str(), query.c_str());
        SetLastError("No objects found");
        return false;
    }
    if (candidates.size() == 1) {
        if (byName && !NameMatches(candidates.front().name, searchedName)) {
            debug.Error(__PRETTY_FUNCTION__, "incorrect object [%s] found for [%s]",
                        candidates.front().name.c_str(), searchedName.c_str());
            SetLastError("incorrect object found");
            return false;
        }
        object = candidates.front();
        return true;
    }

    debug.Error(__PRETTY_FUNCTION__, "Found %d objects for [%s][%s]", static_cast<int>(candidates.size()),
                path.c_str(), query.c_str());
    std::string passedOver;
    if (byName) {
        for (const T& candidate : candidates) {
            if (NameMatches(candidate.name, searchedName)) {
                object = candidate;
                debug.Debug(__PRETTY_FUNCTION__, "Matched object by name [%s]", searchedName.c_str());
                return true;
            }
            if (!passedOver.empty()) passedOver += ", ";
            passedOver += candidate.name;
        }
    }
    debug.Error(__PRETTY_FUNCTION__, "Object Names: %s", passedOver.c_str());
    SetLastError("Found multiple objects when one object was expected");
    return false;
}

template <typename T>
bool CFusionComputeQueries::GetObjectFromLink(const SSiteInfoLib& site, const std::string& path, T& object) {
    return GetObjectFromLink<T>(site.uri + path, object);
}

template <typename T>
bool CFusionComputeQueries::GetObjectFromOwnLink(std::string& uri, const std::string& urn, T& object) {
    if (uri.empty()) {
        if (urn.empty()) {
            SetLastError("No URI or URN of the object given");
            return false;
        }
        uri = ConvertUrnToUri(urn);
        if (uri.empty()) {
            const std::string message = "Refused to use the malformed URN [" + PrintableText(urn) + "]";
            debug.Error(__PRETTY_FUNCTION__, "%s", message.c_str());
            SetLastError(message);
            return false;
        }
    }
    if (!CheckLink(uri)) return false;
    // The parser overwrites the record's identifiers from the answer, so the link is taken first.
    const std::string link = uri;
    return GetObjectFromLink<T>(link, object);
}

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_QUERIES_FUSIONCOMPUTEPAGING_H

#ifndef FCSDK_CONNECTION_FUSIONCOMPUTEREQUESTCORE_H
#define FCSDK_CONNECTION_FUSIONCOMPUTEREQUESTCORE_H

#include <string>

#include "FusionComputeErrorState.h"
#include "connection/FusionComputeConnection.h"
#include "connection/FusionComputeErrorHandler.h"
#include "parser/FusionComputeParser.h"

namespace FusionComputeSDKWrapper {

/// @brief What the queries and the operations objects of one wrapper share: the session they send
/// through, the parser of the answers, the error state their failures go to, and the one GET that reads
/// an object (a query's read of one object, an operation's poll of a task).
///
/// Failed requests are recorded through the inherited error handler, whose transport is the session.
class CFusionComputeRequestCore : public CFusionComputeErrorHandler {
  public:
    /// @brief Builds the core; it owns none of its arguments.
    /// @param connection the VRM session through which every request is sent
    /// @param parser turns answer bodies into records
    /// @param state the shared error state (may be null)
    CFusionComputeRequestCore(CFusionComputeConnection* connection, CFusionComputeParser* parser,
                              CFusionComputeErrorState* state)
        : CFusionComputeErrorHandler(parser, state, connection), connection(connection), parser(parser) {}
    ~CFusionComputeRequestCore() override = default;
    CFusionComputeRequestCore(const CFusionComputeRequestCore&) = delete;
    CFusionComputeRequestCore& operator=(const CFusionComputeRequestCore&) = delete;

  protected:
    /// @brief Reads one object from its URI.
    /// @param link the object's URI
    /// @param object filled by the parser (possibly partly on a parse failure)
    /// @return true when the GET succeeded and the answer parsed; otherwise the last error says why (the
    ///         VRM's error body or the transport's account, or that the answer could not be read)
    template <typename T>
    bool GetObjectFromLink(const std::string& link, T& object);

    CFusionComputeConnection* connection;
    CFusionComputeParser* parser;
};

template <typename T>
bool CFusionComputeRequestCore::GetObjectFromLink(const std::string& link, T& object) {
    std::string answer;
    if (!connection->get(link, answer, nullptr)) {
        RecordFailedRequest(answer);
        return false;
    }
    if (!parser->ParseObject<T>(answer, object)) {
        SetLastError(UnreadableAnswerMessage(link));
        return false;
    }
    return true;
}

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_CONNECTION_FUSIONCOMPUTEREQUESTCORE_H

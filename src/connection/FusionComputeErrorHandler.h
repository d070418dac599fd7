#ifndef FCSDK_CONNECTION_FUSIONCOMPUTEERRORHANDLER_H
#define FCSDK_CONNECTION_FUSIONCOMPUTEERRORHANDLER_H

#include <string>

#include "EvDebug.h"
#include "FusionComputeErrorState.h"

class MLSRestApiConnection;

namespace FusionComputeSDKWrapper {

class CFusionComputeParser;
struct SErrorInfoLib;

/// The last error of a call that ended because the caller cancelled it (the same text as the transport's).
constexpr char kCancelledMessage[] = "Cancelled";

/// @brief Writes and reads the error state that a wrapper's queries and operations share.
///
/// Failures are recorded either with a message of the caller's own or by reading the VRM's JSON error
/// body ({"errorCode": "<digits>", "errorDes": "<text>"}). The handler owns neither the parser, the
/// transport nor the state; with a null state every setter does nothing and the getters answer "" and 0.
class CFusionComputeErrorHandler : public EvDebug {
  public:
    /// @brief Builds a handler over a shared state.
    /// @param parser parser used to read VRM error bodies; not owned
    /// @param state the shared error state; not owned, may be null
    /// @param transport the connection whose failed requests RecordFailedRequest records; not owned, may
    ///        be null (its account of a failure is then empty)
    CFusionComputeErrorHandler(CFusionComputeParser* parser, CFusionComputeErrorState* state,
                               const MLSRestApiConnection* transport = nullptr);
    ~CFusionComputeErrorHandler() override;

    /// @brief The last error message.
    /// @return a copy of the state's message, or "" without a state
    std::string GetErrorMessage() const;
    /// @brief The last error message (same as GetErrorMessage).
    /// @return a copy of the state's message, or "" without a state
    std::string GetLastError() const;
    /// @brief The code of the last VRM error body.
    /// @return the state's code, or 0 without a state
    long GetErrorCode() const;

    /// @brief Records a message; the code keeps its value.
    /// @param message the new last error message
    void SetErrorMessage(const std::string& message);
    /// @brief Records a message (same as SetErrorMessage).
    /// @param message the new last error message
    void SetLastError(const std::string& message);
    /// @brief Records an error code.
    /// @param code the new last error code
    void SetErrorCode(long code);
    /// @brief Records the message and code of a VRM error body.
    ///
    /// An empty body changes nothing. Any other body replaces both: a body that is not a VRM error
    /// object leaves an empty message and code 0. The code is the 32-bit value of "errorCode" taken as
    /// unsigned, so "-1" is stored as 4294967295.
    /// @param response the answer body of a failed request
    void SetLastErrorFromResponse(const std::string& response);
    /// @brief Records why a request failed, whatever the failure was.
    ///
    /// A VRM error body with an "errorDes" is recorded as SetLastErrorFromResponse records it (message
    /// and code). Any other failure (no answer at all, an HTML page, an empty body) records
    /// `transportError` as the message and leaves the code as it was: the code only ever comes from a
    /// VRM error body.
    /// @param response the answer body of the failed request (may be empty)
    /// @param transportError what the transport says went wrong (the connection's
    ///        GetLastTransportError(): curl's reason or the HTTP status, with method and URL)
    void SetLastErrorFromFailedRequest(const std::string& response, const std::string& transportError);
    /// @brief Records why the last request through the handler's transport failed: as
    /// SetLastErrorFromFailedRequest, with the transport's GetLastTransportError() as its account.
    /// @param response the answer body of the failed request (may be empty)
    void RecordFailedRequest(const std::string& response);

    /// @brief The message for a successful answer that could not be read.
    /// @param path the path of the request that brought the answer
    /// @return "Could not read the VRM's answer to [<path>]"
    static std::string UnreadableAnswerMessage(const std::string& path);

  private:
    void StoreErrorBody(const SErrorInfoLib& info);

    CFusionComputeParser* parser;
    CFusionComputeErrorState* state;
    const MLSRestApiConnection* transport;
};

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_CONNECTION_FUSIONCOMPUTEERRORHANDLER_H

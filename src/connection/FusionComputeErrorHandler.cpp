#include "connection/FusionComputeErrorHandler.h"

#include <cstdint>

#include "FusionComputeRecords.h"
#include "parser/FusionComputeParser.h"
#include "platform/MLSRestApiConnection.h"

namespace FusionComputeSDKWrapper {

CFusionComputeErrorHandler::CFusionComputeErrorHandler(CFusionComputeParser* parser,
                                                       CFusionComputeErrorState* state,
                                                       const MLSRestApiConnection* transport)
    : EvDebug(nullptr), parser(parser), state(state), transport(transport) {}

CFusionComputeErrorHandler::~CFusionComputeErrorHandler() {
    parser = nullptr;
}

std::string CFusionComputeErrorHandler::GetErrorMessage() const {
    return state ? state->message : std::string();
}

std::string CFusionComputeErrorHandler::GetLastError() const {
    return GetErrorMessage();
}

long CFusionComputeErrorHandler::GetErrorCode() const {
    return state ? state->code : 0;
}

void CFusionComputeErrorHandler::SetErrorMessage(const std::string& message) {
    if (state) state->message = message;
}

void CFusionComputeErrorHandler::SetLastError(const std::string& message) {
    SetErrorMessage(message);
}

void CFusionComputeErrorHandler::SetErrorCode(long code) {
    if (state) state->code = code;
}

void CFusionComputeErrorHandler::SetLastErrorFromResponse(const std::string& response) {
    if (response.empty() || !state) return;
    SErrorInfoLib info;
    // A body that is no VRM error object (an HTML page of a proxy, say) still replaces the earlier
    // error: the caller must not see a stale message for this failure. The parse result is therefore
    // not consulted; the record keeps its defaults where nothing could be read.
    if (parser) parser->ParseObject<SErrorInfoLib>(response, info);
    StoreErrorBody(info);
}

void CFusionComputeErrorHandler::SetLastErrorFromFailedRequest(const std::string& response,
                                                               const std::string& transportError) {
    if (!state) return;
    SErrorInfoLib info;
    if (!response.empty() && parser) parser->ParseObject<SErrorInfoLib>(response, info);
    const std::string account =
        transportError.empty() ? std::string("The request failed without an answer") : transportError;
    if (!info.errorDes.empty()) {
        StoreErrorBody(info);
        return;
    }
    // No VRM error to pass on: what the transport saw is the only account of this failure, and it
    // must replace whatever an earlier failure left behind, the code included (a stale code would
    // make IsCreateVMSnapshotErrorRetryable answer for an older, unrelated error). A body with a
    // code but no description still tells the code.
    state->message = account;
    state->code = static_cast<int64_t>(static_cast<uint32_t>(info.errorCode));
}

void CFusionComputeErrorHandler::RecordFailedRequest(const std::string& response) {
    SetLastErrorFromFailedRequest(response, transport ? transport->GetLastTransportError() : std::string());
}

std::string CFusionComputeErrorHandler::UnreadableAnswerMessage(const std::string& path) {
    return "Could not read the VRM's answer to [" + path + "]";
}

void CFusionComputeErrorHandler::StoreErrorBody(const SErrorInfoLib& info) {
    state->message = info.errorDes;
    // The VRM writes the code as decimal text that is read into 32 bits; it is stored unsigned, so a
    // text such as "-1" reads back as 4294967295 rather than a negative code.
    state->code = static_cast<int64_t>(static_cast<uint32_t>(info.errorCode));
}

}  // namespace FusionComputeSDKWrapper

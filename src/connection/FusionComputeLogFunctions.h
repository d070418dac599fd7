#ifndef FCSDK_CONNECTION_FUSIONCOMPUTELOGFUNCTIONS_H
#define FCSDK_CONNECTION_FUSIONCOMPUTELOGFUNCTIONS_H

// The fixed function texts of the log lines that operators and callers search for (docs/adr/0006).
//
// Every other log line names its function with __PRETTY_FUNCTION__, which follows the signature. The
// lines below are watched for by text, so each names its function with the text it has always shown
// (parameters spelt "const string&"); a change of the function's signature leaves them as they are.
// Change one only together with everything that searches the logs for it.

namespace FusionComputeSDKWrapper::LogFunction {

// One text a line, as it stands in the log, so that a search of the sources for a logged text finds it.
// clang-format off

// ---- The session (CFusionComputeConnection) ----------------------------------------------------------

inline constexpr char kLogin[] = "bool FusionComputeSDKWrapper::CFusionComputeConnection::login(const string&, const string&, const string&, const string&)";
inline constexpr char kComputeUrl[] = "virtual bool FusionComputeSDKWrapper::CFusionComputeConnection::computeUrl(const string&, const string&, const VSRestApiRequestOptions*, std::string&)";
inline constexpr char kAddCommonCurlHeaders[] = "virtual bool FusionComputeSDKWrapper::CFusionComputeConnection::addCommonCurlHeaders()";
inline constexpr char kAddLoginCurlHeaders[] = "virtual bool FusionComputeSDKWrapper::CFusionComputeConnection::addLoginCurlHeaders()";
inline constexpr char kSHA256Hash[] = "std::string FusionComputeSDKWrapper::CFusionComputeConnection::SHA256Hash(const string&)";

// ---- The facade (CFusionComputeWrapper) --------------------------------------------------------------

inline constexpr char kConnect[] = "bool FusionComputeSDKWrapper::CFusionComputeWrapper::Connect(const string&, const string&, const string&)";
inline constexpr char kDecodeVersion[] = "int FusionComputeSDKWrapper::CFusionComputeWrapper::DecodeVersion(const string&)";
inline constexpr char kReleaseDiskAccess[] = "bool FusionComputeSDKWrapper::CFusionComputeWrapper::ReleaseDiskAccess(const string&)";
inline constexpr char kReconnectNetworksFromJSONDescriptor[] = "bool FusionComputeSDKWrapper::CFusionComputeWrapper::ReconnectNetworksFromJSONDescriptor(const FusionComputeSDKWrapper::SVMInfoLib&, const string&)";

// clang-format on

}  // namespace FusionComputeSDKWrapper::LogFunction

#endif  // FCSDK_CONNECTION_FUSIONCOMPUTELOGFUNCTIONS_H

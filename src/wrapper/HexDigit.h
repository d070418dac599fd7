#ifndef FCSDK_WRAPPER_HEXDIGIT_H
#define FCSDK_WRAPPER_HEXDIGIT_H

namespace FusionComputeSDKWrapper {

/// The value of one hexadecimal digit of a changed-block bitmap (either case), or -1 for any other
/// character: the text comes from the VRM unchecked.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_WRAPPER_HEXDIGIT_H

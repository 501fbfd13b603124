#pragma once
// The status codes of a TLS session as the socket and its owners see them (the values of the
// platform's TLS engine, so that logged errors carry the numbers clients expect).
#include <cstdint>

namespace telvo::tls {

inline constexpr int32_t noErr = 0;
inline constexpr int32_t errSecParam = -50;
inline constexpr int32_t errSSLProtocol = -9800;
inline constexpr int32_t errSSLNegotiation = -9801;
inline constexpr int32_t errSSLFatalAlert = -9802;
inline constexpr int32_t errSSLWouldBlock = -9803;
inline constexpr int32_t errSSLClosedGraceful = -9805;
inline constexpr int32_t errSSLClosedAbort = -9806;
inline constexpr int32_t errSSLXCertChainInvalid = -9807;
inline constexpr int32_t errSSLBadCert = -9808;
inline constexpr int32_t errSSLCrypto = -9809;
inline constexpr int32_t errSSLInternal = -9810;
inline constexpr int32_t errSSLPeerUnexpectedMsg = -9819;
inline constexpr int32_t errSSLPeerBadRecordMac = -9820;
inline constexpr int32_t errSSLPeerHandshakeFail = -9824;
inline constexpr int32_t errSSLPeerBadCert = -9825;
inline constexpr int32_t errSSLPeerProtocolVersion = -9836;
inline constexpr int32_t errSSLPeerAuthCompleted = -9841;
inline constexpr int32_t errSSLBadConfiguration = -9848;

}  // namespace telvo::tls

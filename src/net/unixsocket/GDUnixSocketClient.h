#pragma once
// The connecting end of a Unix-domain dictionary socket (the control application's side).
#include "net/unixsocket/GDUnixSocket.h"

namespace telvo {

class GDUnixSocketClient;
using GDUnixSocketClientPtr = std::shared_ptr<GDUnixSocketClient>;

class GDUnixSocketClient : public GDUnixSocket {
public:
    static GDUnixSocketClientPtr initWithSocketPath(const std::string& path,
                                                    size_t fragmentSize = kDefaultFragmentSize);
    // Connects; with autoRead the read loop starts at once and hands replies to the delegate.
    bool connectWithAutoRead(bool autoRead, ErrorPtr* error = nullptr);

private:
    using GDUnixSocket::GDUnixSocket;
};

}  // namespace telvo

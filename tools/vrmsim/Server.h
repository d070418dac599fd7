#ifndef VRMSIM_SERVER_H
#define VRMSIM_SERVER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Http.h"
#include "Waker.h"

namespace vrmsim {

struct ServerSettings {
    std::string host = "127.0.0.1";
    int port = 0;
    std::string certFile, keyFile;
    int threads = 32;
    int keepAliveSeconds = 60;
};

/// The HTTPS server (cpp-httplib): hands every request to one handler as an HttpRequest and puts
/// the HttpResponse on the wire, including the broken forms (stall, drop, close, generated bodies).
/// Counts TLS connections by the first handshake of each SSL object.
class HttpsServer {
  public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    HttpsServer(ServerSettings settings, Handler handler, Waker& waker);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    /// Loads the certificate, binds and starts the listening thread.
    bool Start(std::string& error);
    /// Stops listening, closes open connections, joins every thread.
    void Stop();
    int Port() const;
    std::uint64_t TlsConnections() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vrmsim

#endif  // VRMSIM_SERVER_H

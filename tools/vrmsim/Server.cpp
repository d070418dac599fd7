// The only translation unit that includes cpp-httplib (it is slow to compile).

#include "Server.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace vrmsim {

namespace {

/// Largest request body the simulator reads.
constexpr std::size_t kMaxRequestBodyBytes = 64u * 1024 * 1024;

/// Pseudo headers cpp-httplib adds to every request; they were not sent by the client.
bool IsPseudoHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

void CloseConnection(const httplib::Request& request) {
    if (request.ssl) {
        int fd = SSL_get_fd(request.ssl);
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }
}

}  // namespace

struct HttpsServer::Impl {
    ServerSettings settings;
    Handler handler;
    Waker& waker;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    int port = 0;
    std::atomic<std::uint64_t> connections{0};
    std::mutex liveMutex;
    std::set<SSL*> live;  ///< SSL objects of open connections, to close them at Stop

    Impl(ServerSettings s, Handler h, Waker& w) : settings(std::move(s)), handler(std::move(h)), waker(w) {}

    // ex_data slots: on the SSL_CTX the Impl, on each SSL the Impl once the connection is counted.
    static int CtxIndex() {
        static int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        return index;
    }
    static int SslIndex() {
        static int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, &Impl::OnSslFree);
        return index;
    }

    static void OnInfo(const SSL* ssl, int where, int /*ret*/) {
        if (!(where & SSL_CB_HANDSHAKE_START)) return;
        SSL* mutableSsl = const_cast<SSL*>(ssl);
        // TLS 1.3 reports later handshake messages as handshake starts too: count each SSL once.
        if (SSL_get_ex_data(mutableSsl, SslIndex())) return;
        auto* impl = static_cast<Impl*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), CtxIndex()));
        if (!impl) return;
        SSL_set_ex_data(mutableSsl, SslIndex(), impl);
        impl->connections.fetch_add(1);
        std::lock_guard<std::mutex> lock(impl->liveMutex);
        impl->live.insert(mutableSsl);
    }

    static void OnSslFree(void* parent, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
        if (!ptr) return;
        auto* impl = static_cast<Impl*>(ptr);
        std::lock_guard<std::mutex> lock(impl->liveMutex);
        impl->live.erase(static_cast<SSL*>(parent));
    }

    void Serve(const httplib::Request& req, httplib::Response& res) {
        HttpRequest in;
        in.method = req.method;
        SplitTarget(req.target, in);
        for (const auto& header : req.headers) {
            if (!IsPseudoHeader(header.first)) in.headers.emplace_back(header.first, header.second);
        }
        in.body = req.body;
        Write(handler(in), req, res);
    }

    void Write(const HttpResponse& out, const httplib::Request& req, httplib::Response& res) {
        res.status = out.status > 0 ? out.status : 500;
        for (const auto& header : out.headers) res.set_header(header.first, header.second);
        switch (out.wire) {
            case WireMode::Normal:
                if (out.generatedBytes > 0) {
                    WriteGenerated(out, res);
                } else {
                    res.set_content(out.body, out.contentType);
                }
                break;
            case WireMode::Drop: {
                auto body = std::make_shared<std::string>(out.body.size() < 2 ? std::string("{}") : out.body);
                std::size_t half = body->size() / 2;
                res.set_content_provider(
                    body->size(), out.contentType,
                    [body, half](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                        if (offset >= half) return false;  // the connection drops here
                        sink.write(body->data() + offset, half - offset);
                        return true;
                    });
                break;
            }
            case WireMode::Stall: {
                int ms = out.stallMs;
                Waker* w = &waker;
                res.set_content_provider(std::max<std::size_t>(out.body.size(), 1), out.contentType,
                                         [ms, w](std::size_t, std::size_t, httplib::DataSink&) {
                                             w->SleepFor(ms);
                                             return false;
                                         });
                break;
            }
            case WireMode::Drip: {
                int ms = out.stallMs;
                Waker* w = &waker;
                auto body = std::make_shared<std::string>(out.body.empty() ? std::string("{}") : out.body);
                res.set_content_provider(
                    body->size(), out.contentType,
                    [body, ms, w](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                        if (offset > 0) w->SleepFor(ms);
                        return sink.write(body->data() + offset, 1);
                    });
                break;
            }
            case WireMode::Close:
                CloseConnection(req);
                res.set_content("", "text/plain");
                break;
        }
    }

    /// A valid JSON body of exactly `generatedBytes` bytes, written in chunks.
    static void WriteGenerated(const HttpResponse& out, httplib::Response& res) {
        static const std::string kHead = "{\"padding\":\"";
        static const std::string kTail = "\"}";
        std::uint64_t total = std::max<std::uint64_t>(out.generatedBytes, kHead.size() + kTail.size());
        res.set_content_provider(
            total, out.contentType, [total](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                std::size_t n = std::min<std::uint64_t>(std::min<std::size_t>(length, 65536), total - offset);
                std::string chunk(n, 'a');
                for (std::size_t i = offset; i < offset + n && i < kHead.size(); ++i) {
                    chunk[i - offset] = kHead[i];
                }
                std::size_t tailStart = total - kTail.size();
                for (std::size_t i = std::max(offset, tailStart); i < offset + n; ++i) {
                    chunk[i - offset] = kTail[i - tailStart];
                }
                return sink.write(chunk.data(), chunk.size());
            });
    }
};

HttpsServer::HttpsServer(ServerSettings settings, Handler handler, Waker& waker)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(handler), waker)) {}

HttpsServer::~HttpsServer() {
    Stop();
}

bool HttpsServer::Start(std::string& error) {
    auto& s = impl_->settings;
    impl_->server = std::make_unique<httplib::SSLServer>(s.certFile.c_str(), s.keyFile.c_str());
    auto& server = *impl_->server;
    if (!server.is_valid()) {
        error = "cannot load the server certificate " + s.certFile + " / " + s.keyFile;
        impl_->server.reset();
        return false;
    }
    SSL_CTX* ctx = server.ssl_context();
    SSL_CTX_set_ex_data(ctx, Impl::CtxIndex(), impl_.get());
    Impl::SslIndex();
    SSL_CTX_set_info_callback(ctx, &Impl::OnInfo);

    int threads = std::max(s.threads, 2);
    server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
    // Without TCP_NODELAY keep-alive requests wait ~40 ms for delayed ACKs; the default of 5 requests
    // per connection would force reconnects that the library's tests must not see.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000000);
    server.set_keep_alive_timeout(s.keepAliveSeconds);
    server.set_read_timeout(30);
    server.set_write_timeout(30);
    // No VRM request comes near this; a larger body is answered 413 and skipped, never held in memory.
    server.set_payload_max_length(kMaxRequestBodyBytes);
    Impl* impl = impl_.get();
    auto handler = [impl](const httplib::Request& req, httplib::Response& res) { impl->Serve(req, res); };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
    server.Patch(".*", handler);
    // A request without Content-Length and Transfer-Encoding has no body (RFC 7230, 3.3.3), but
    // cpp-httplib would read a POST or PUT until the read timeout; answer it at once as bodyless.
    server.set_pre_routing_handler([impl](const httplib::Request& req, httplib::Response& res) {
        bool bodyless = (req.method == "POST" || req.method == "PUT" || req.method == "PATCH") &&
                        !req.has_header("Content-Length") && !req.has_header("Transfer-Encoding");
        if (!bodyless) return httplib::Server::HandlerResponse::Unhandled;
        impl->Serve(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("{\"errorCode\":\"10000500\",\"errorDes\":\"Internal simulator error.\"}",
                        "application/json;charset=UTF-8");
    });

    impl_->port =
        s.port == 0 ? server.bind_to_any_port(s.host) : (server.bind_to_port(s.host, s.port) ? s.port : -1);
    if (impl_->port <= 0) {
        error = "cannot listen on " + s.host + ":" + std::to_string(s.port);
        impl_->server.reset();
        return false;
    }
    impl_->waker.Restart();
    impl_->thread = std::thread([impl] { impl->server->listen_after_bind(); });
    // stop() only works once the accept loop runs, so wait for it.
    for (int i = 0; i < 5000 && !server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void HttpsServer::Stop() {
    if (!impl_->server) return;
    impl_->server->stop();
    {
        // Idle keep-alive connections would otherwise hold their threads until the keep-alive timeout.
        std::lock_guard<std::mutex> lock(impl_->liveMutex);
        for (SSL* ssl : impl_->live) {
            int fd = SSL_get_fd(ssl);
            if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
        }
    }
    impl_->waker.Stop();
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->server.reset();
}

int HttpsServer::Port() const {
    return impl_->port;
}

std::uint64_t HttpsServer::TlsConnections() const {
    return impl_->connections.load();
}

}  // namespace vrmsim

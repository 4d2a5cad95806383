// HTTP requests against a server of the test's own on 127.0.0.1: a body that never ends stops at the
// request's limit, and a failure says why.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/http.h"

namespace oka {
namespace {

// A server on a port the system picks that answers one request with a body that never ends: it sends
// until the client goes away.
class EndlessServer {
public:
    EndlessServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~EndlessServer() {
        shutdown(listener_, SHUT_RDWR);  // an accept still waiting (no request came) returns
        if (thread_.joinable()) thread_.join();
        close(listener_);
    }
    EndlessServer(const EndlessServer&) = delete;
    EndlessServer& operator=(const EndlessServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    bool listening() const { return port_ != 0; }

private:
    void serve() {
        int connection = accept(listener_, nullptr, nullptr);
        if (connection < 0) return;
        std::string request;
        char chunk[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t got = recv(connection, chunk, sizeof chunk, 0);
            if (got <= 0) break;
            request.append(chunk, size_t(got));
        }
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
        std::string zeros(65536, '\0');
        bool open = send(connection, head.data(), head.size(), MSG_NOSIGNAL) > 0;
        while (open) open = send(connection, zeros.data(), zeros.size(), MSG_NOSIGNAL) > 0;
        close(connection);
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

TEST(Http, ABodyThatNeverEndsStopsAtTheLimit) {
    EndlessServer server;
    ASSERT_TRUE(server.listening());
    platform::HttpRequest request{"GET", server.url(), {}, {}, 1 << 20};
    platform::HttpResponse response = platform::http_request(request);
    EXPECT_TRUE(response.too_large);
    EXPECT_FALSE(response.failure.empty());
    EXPECT_LE(response.body.size(), size_t(1) << 20);
}

}  // namespace
}  // namespace oka

/* One synchronous HTTP or HTTPS request through libcurl: the method, the URL, the request's header lines
   and its body go out; the status, the response's header lines and its body come back.

   - Redirects are followed (at most 10, to http and https URLs only); the headers answered are those of
     the last response, each line "Name: value" ended by CR LF, without the status line.
   - Only the header lines given are sent besides those the protocol needs (Host, Content-Length): the
     client's own Accept and Content-Type are left out unless given.
   - A connection that cannot be made within 30 seconds, or a transfer that stalls for 60, fails.
   - A failure says why, in the client's words ("Failed to connect to 127.0.0.1 port 9 after 0 ms:
     Connection refused", "Maximum (10) redirects followed").
   - A body longer than the request's limit stops the transfer there: a server that sends without end
     costs no more than the limit.

   - libcurl is loaded on the first request; where it cannot be loaded, no request can be made.

   Rules: nothing here knows of cells; text is bytes (UTF-8 by convention). The client is made and freed
   within the call, on every path. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oka::platform {

struct HttpRequest {
    std::string method;                // upper case: GET, HEAD, POST, PUT ...
    std::string url;                   // as UTF-8 text
    std::vector<std::string> headers;  // "Name: value"
    std::optional<std::string> body;   // none: the request has no body
    size_t body_limit = SIZE_MAX;      // the most bytes of the response's body taken
};

struct HttpResponse {
    long status = 0;
    std::string headers;
    std::string body;
    // Why no response came: empty when one did.
    std::string failure;
    // The body came to more bytes than the limit: the transfer stopped there, and failure says so.
    bool too_large = false;
};

HttpResponse http_request(const HttpRequest& request);

}  // namespace oka::platform

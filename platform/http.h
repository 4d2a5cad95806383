/* One synchronous HTTP or HTTPS request through libcurl: the method, the URL, the request's header lines
   and its body go out; the status, the response's header lines and its body come back.

   - Redirects are followed (at most 10); the headers answered are those of the last response, each line
     "Name: value" ended by CR LF, without the status line.
   - Only the header lines given are sent besides those the protocol needs (Host, Content-Length): the
     client's own Accept and Content-Type are left out unless given.
   - A connection that cannot be made within 30 seconds, or a transfer that stalls for 60, fails.

   - libcurl is loaded on the first request; where it cannot be loaded, no request can be made.

   Rules: nothing here knows of cells; text is bytes (UTF-8 by convention). The client is made and freed
   within the call, on every path. */
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace oka::platform {

struct HttpRequest {
    std::string method;                // upper case: GET, HEAD, POST, PUT ...
    std::string url;                   // as UTF-8 text
    std::vector<std::string> headers;  // "Name: value"
    std::optional<std::string> body;   // none: the request has no body
};

struct HttpResponse {
    long status = 0;
    std::string headers;
    std::string body;
};

// The response, or nothing when the request could not be made or no response came.
std::optional<HttpResponse> http_request(const HttpRequest& request);

}  // namespace oka::platform

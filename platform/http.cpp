#include "platform/http.h"

#include <curl/curl.h>

#include <memory>
#include <string_view>

namespace oka::platform {

namespace {

struct CurlFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t take_body(char* data, size_t size, size_t count, void* into) {
    static_cast<HttpResponse*>(into)->body.append(data, size * count);
    return size * count;
}

// The header lines of each response in turn: a status line starts a response (after a redirect or an
// interim 100 Continue) and drops those of the one before; the blank line that ends them is left out.
size_t take_header(char* data, size_t size, size_t count, void* into) {
    std::string_view line(data, size * count);
    std::string& headers = static_cast<HttpResponse*>(into)->headers;
    if (line.starts_with("HTTP/"))
        headers.clear();
    else if (line != "\r\n" && line != "\n")
        headers.append(line);
    return line.size();
}

bool given_q(const std::vector<std::string>& headers, std::string_view name) {
    for (const std::string& header : headers)
        if (header.size() > name.size() && header[name.size()] == ':' &&
            curl_strnequal(header.data(), name.data(), name.size()))
            return true;
    return false;
}

// The header lines as the client takes them: the given ones, and an empty value for each header that
// the client would add of its own accord, which it then leaves out.
curl_slist* header_list(const std::vector<std::string>& headers) {
    curl_slist* list = nullptr;
    auto add = [&list](const char* line) {
        curl_slist* longer = curl_slist_append(list, line);
        if (!longer) curl_slist_free_all(list);
        list = longer;
        return longer != nullptr;
    };
    for (const std::string& header : headers)
        if (!add(header.c_str())) return nullptr;
    for (const char* own : {"Accept", "Content-Type", "Expect"})
        if (!given_q(headers, own) && !add((std::string(own) + ":").c_str())) return nullptr;
    return list;
}

void set_method(CURL* curl, const HttpRequest& request) {
    if (request.method == "HEAD")
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    else if (request.method == "POST")
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
    else if (request.method != "GET")
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.body) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body->size()));
    }
}

}  // namespace

std::optional<HttpResponse> http_request(const HttpRequest& request) {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!ready) return std::nullopt;
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl) return std::nullopt;
    std::unique_ptr<curl_slist, CurlFree> headers(header_list(request.headers));
    if (!headers) return std::nullopt;
    HttpResponse response;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, take_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, take_header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &response);
    set_method(c, request);
    if (curl_easy_perform(c) != CURLE_OK) return std::nullopt;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

}  // namespace oka::platform

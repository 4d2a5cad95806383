#include "platform/http.h"

// The calls go through pointers taken from the library, not through the header's checking macros.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>
#include <strings.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace oka::platform {

namespace {

// libcurl and the libraries it needs in turn are many: loading them at start-up took most of it, so
// they are loaded on the first request.
struct Curl {
    CURLcode (*global_init)(long flags);
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL* curl, CURLoption option, ...);
    CURLcode (*easy_perform)(CURL* curl);
    CURLcode (*easy_getinfo)(CURL* curl, CURLINFO info, ...);
    void (*easy_cleanup)(CURL* curl);
    curl_slist* (*slist_append)(curl_slist* list, const char* line);
    void (*slist_free_all)(curl_slist* list);
    const char* (*easy_strerror)(CURLcode code);
};

// The library, initialised; nothing when it cannot be loaded or initialised.
const Curl* curl_library() {
    static const Curl* loaded = []() -> const Curl* {
        static Curl curl;
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        struct Symbol {
            const char* name;
            void* slot;
        };
        const Symbol symbols[] = {
            {"curl_global_init", &curl.global_init},     {"curl_easy_init", &curl.easy_init},
            {"curl_easy_setopt", &curl.easy_setopt},     {"curl_easy_perform", &curl.easy_perform},
            {"curl_easy_getinfo", &curl.easy_getinfo},   {"curl_easy_cleanup", &curl.easy_cleanup},
            {"curl_slist_append", &curl.slist_append},   {"curl_slist_free_all", &curl.slist_free_all},
            {"curl_easy_strerror", &curl.easy_strerror},
        };
        static_assert(std::size(symbols) * sizeof(void*) == sizeof(Curl), "every call of the library is loaded");
        for (const Symbol& symbol : symbols) {
            void* address = dlsym(library, symbol.name);
            if (!address) return nullptr;
            std::memcpy(symbol.slot, &address, sizeof address);
        }
        return curl.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK ? &curl : nullptr;
    }();
    return loaded;
}

struct CurlFree {
    const Curl* lib;
    void operator()(CURL* curl) const { lib->easy_cleanup(curl); }
    void operator()(curl_slist* list) const { lib->slist_free_all(list); }
};

// The transfer under way: the response as it arrives and the limit of its body.
struct Transfer {
    HttpResponse response;
    size_t body_limit;
};

// Taking fewer bytes than given stops the transfer.
size_t take_body(char* data, size_t size, size_t count, void* into) {
    auto* transfer = static_cast<Transfer*>(into);
    std::string& body = transfer->response.body;
    if (size * count > transfer->body_limit - body.size()) {
        transfer->response.too_large = true;
        return 0;
    }
    body.append(data, size * count);
    return size * count;
}

// The header lines of each response in turn: a status line starts a response (after a redirect or an
// interim 100 Continue) and drops those of the one before; the blank line that ends them is left out.
size_t take_header(char* data, size_t size, size_t count, void* into) {
    std::string_view line(data, size * count);
    std::string& headers = static_cast<Transfer*>(into)->response.headers;
    if (line.starts_with("HTTP/"))
        headers.clear();
    else if (line != "\r\n" && line != "\n")
        headers.append(line);
    return line.size();
}

bool given_q(const std::vector<std::string>& headers, std::string_view name) {
    for (const std::string& header : headers)
        if (header.size() > name.size() && header[name.size()] == ':' &&
            strncasecmp(header.data(), name.data(), name.size()) == 0)
            return true;
    return false;
}

// The header lines as the client takes them: the given ones, and an empty value for each header that
// the client would add of its own accord, which it then leaves out.
curl_slist* header_list(const Curl& lib, const std::vector<std::string>& headers) {
    curl_slist* list = nullptr;
    auto add = [&](const char* line) {
        curl_slist* longer = lib.slist_append(list, line);
        if (!longer) lib.slist_free_all(list);
        list = longer;
        return longer != nullptr;
    };
    for (const std::string& header : headers)
        if (!add(header.c_str())) return nullptr;
    for (const char* own : {"Accept", "Content-Type", "Expect"})
        if (!given_q(headers, own) && !add((std::string(own) + ":").c_str())) return nullptr;
    return list;
}

void set_method(const Curl& lib, CURL* curl, const HttpRequest& request) {
    if (request.method == "HEAD")
        lib.easy_setopt(curl, CURLOPT_NOBODY, 1L);
    else if (request.method == "POST")
        lib.easy_setopt(curl, CURLOPT_POST, 1L);
    else if (request.method != "GET")
        lib.easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.body) {
        lib.easy_setopt(curl, CURLOPT_POSTFIELDS, request.body->data());
        lib.easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body->size()));
    }
}

}  // namespace

HttpResponse http_request(const HttpRequest& request) {
    Transfer transfer{{}, request.body_limit};
    HttpResponse& response = transfer.response;
    const Curl* lib = curl_library();
    if (!lib) {
        response.failure = "libcurl cannot be loaded";
        return response;
    }
    std::unique_ptr<CURL, CurlFree> curl(lib->easy_init(), CurlFree{lib});
    std::unique_ptr<curl_slist, CurlFree> headers(curl ? header_list(*lib, request.headers) : nullptr, CurlFree{lib});
    if (!headers) {
        response.failure = lib->easy_strerror(CURLE_OUT_OF_MEMORY);
        return response;
    }
    char reason[CURL_ERROR_SIZE] = "";
    CURL* c = curl.get();
    lib->easy_setopt(c, CURLOPT_URL, request.url.c_str());
    lib->easy_setopt(c, CURLOPT_ERRORBUFFER, reason);
    lib->easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    lib->easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    lib->easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    lib->easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    lib->easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    lib->easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib->easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
    lib->easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    lib->easy_setopt(c, CURLOPT_WRITEFUNCTION, take_body);
    lib->easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    lib->easy_setopt(c, CURLOPT_HEADERFUNCTION, take_header);
    lib->easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    set_method(*lib, c, request);
    CURLcode code = lib->easy_perform(c);
    if (response.too_large) {
        response.failure = "the body is longer than " + std::to_string(request.body_limit) + " bytes";
    } else if (code != CURLE_OK) {
        response.failure = reason[0] ? reason : lib->easy_strerror(code);
        // The client's words for a failed connection name no cause ("Couldn't connect to server"): the
        // system's, which do (refused, unreachable, timed out), come first.
        long cause = 0;
        if (lib->easy_getinfo(c, CURLINFO_OS_ERRNO, &cause) == CURLE_OK && cause != 0)
            response.failure = error_text(int(cause)) + " (" + response.failure + ")";
    } else {
        lib->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    }
    return std::move(response);
}

}  // namespace oka::platform

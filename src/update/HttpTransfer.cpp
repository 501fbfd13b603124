#include "update/HttpTransfer.h"

#include "update/CurlLibrary.h"

#include <mutex>

namespace telvo::update {
namespace {

std::mutex gSettingsMutex;
std::string gCAFile;
long gStallSeconds = 60;

struct Transfer {
    const HttpRequest* request;
    HttpResponse* response;
    CURL* curl;
    const CurlLibrary* lib;
    uint64_t received = 0;
    bool overLimit = false;
    bool refused = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t length = size * count;
    t->received += length;
    if (t->received > t->request->maxBytes) {
        t->overLimit = true;
        return 0;
    }
    if (t->request->onData) {
        long status = 0;
        curl_off_t announced = -1;
        t->lib->easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
        t->lib->easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (!t->request->onData(data, length, status, announced < 0 ? -1 : int64_t(announced))) {
            t->refused = true;
            return 0;
        }
    } else {
        t->response->data.append(data, length);
    }
    return length;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->request->cancel && t->request->cancel->load() ? 1 : 0;
}

}  // namespace

HttpResponse perform(const HttpRequest& request) {
    HttpResponse response;
    const CurlLibrary::Use use;
    const CurlLibrary* lib = use.get();
    if (!lib) {
        response.error = makeError("HttpTransfer", -1, use.why());
        return response;
    }
    CURL* curl = lib->easy_init();
    if (!curl) {
        response.error = makeError("HttpTransfer", -1, "could not make a transfer");
        return response;
    }
    const std::string ca = caFile();
    const long stall = stallSeconds();
    Transfer t{&request, &response, curl, lib};
    char errorText[CURL_ERROR_SIZE] = {0};

    lib->easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    lib->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    lib->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    lib->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    lib->easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    lib->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib->easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    lib->easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    lib->easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    lib->easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib->easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
    lib->easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    lib->easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.maxBytes));
    // No total time-out: a slow but moving transfer goes on; one without data for `stall`
    // seconds (connecting included) fails.
    lib->easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, stall);
    lib->easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib->easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stall);
    if (!ca.empty()) lib->easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    if (request.post) {
        lib->easy_setopt(curl, CURLOPT_POST, 1L);
        lib->easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
        lib->easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
    }

    const CURLcode code = lib->easy_perform(curl);
    lib->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    curl_off_t announced = -1;
    lib->easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    response.announcedLength = announced < 0 ? -1 : int64_t(announced);
    if (code != CURLE_OK) {
        std::string message;
        if (t.overLimit || code == CURLE_FILESIZE_EXCEEDED)
            message = "the answer is larger than " + std::to_string(request.maxBytes) + " bytes";
        else if (t.refused)
            message = "the transfer was refused";
        else if (code == CURLE_ABORTED_BY_CALLBACK)
            message = "the transfer was cancelled";
        else
            message = errorText[0] ? errorText : lib->easy_strerror(code);
        response.error = makeError("HttpTransfer", long(code), message);
    }
    lib->easy_cleanup(curl);
    return response;
}

void setCAFile(const std::string& path) {
    std::lock_guard lock(gSettingsMutex);
    gCAFile = path;
}

std::string caFile() {
    std::lock_guard lock(gSettingsMutex);
    return gCAFile;
}

void setStallSeconds(long seconds) {
    std::lock_guard lock(gSettingsMutex);
    gStallSeconds = seconds > 0 ? seconds : 60;
}

long stallSeconds() {
    std::lock_guard lock(gSettingsMutex);
    return gStallSeconds;
}

void resetSettingsForTesting() {
    std::lock_guard lock(gSettingsMutex);
    gCAFile.clear();
    gStallSeconds = 60;
}

}  // namespace telvo::update

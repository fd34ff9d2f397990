#include "report/https_client.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

namespace {

// Closes one WinHTTP handle when it goes out of scope. Declared in opening order, the
// handles close in the reverse order: request, connection, session.
class Handle {
public:
    explicit Handle(HINTERNET h) : h_(h) {}
    ~Handle() {
        if (h_) WinHttpCloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HINTERNET h_;
};

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

DWORD milliseconds(std::chrono::seconds s) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(s).count();
    if (ms <= 0) return 0;
    return ms > static_cast<long long>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                        : static_cast<DWORD>(ms);
}

struct StoreCloser {
    HCERTSTORE store;
    ~StoreCloser() {
        if (store) CertCloseStore(store, 0);
    }
};

// An in-memory store holding every certificate of the PEM text; null if there is none.
HCERTSTORE storeFromPem(const std::string& pem) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    if (!store) return nullptr;
    static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at + 1)) {
        const std::size_t end = pem.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string block = pem.substr(at, end + kEnd.size() - at);
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                  nullptr, &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                 der.data(), &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            ++added;
    }
    if (added == 0) {
        CertCloseStore(store, 0);
        return nullptr;
    }
    return store;
}

// True when the server's certificate chains up to one of the given authorities with no
// other fault. WinHTTP has already checked the host name and the validity dates; it was
// told only to accept a root that the system does not know.
bool chainsToPrivateAuthority(HINTERNET request, const std::string& caPem) {
    StoreCloser authorities{storeFromPem(caPem)};
    if (!authorities.store) return false;

    PCCERT_CONTEXT server = nullptr;
    DWORD size = sizeof server;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) || !server) return false;

    LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuth;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool trusted = false;
    if (CertGetCertificateChain(nullptr, server, nullptr, authorities.store, &para,
                                CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &chain) &&
        chain && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        // The private root is unknown to the system; no revocation data exists for it.
        const DWORD tolerated = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION;
        PCCERT_CONTEXT known =
            CertFindCertificateInStore(authorities.store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
        trusted = known != nullptr && (chain->TrustStatus.dwErrorStatus & ~tolerated) == CERT_TRUST_NO_ERROR;
        if (known) CertFreeCertificateContext(known);
    }
    if (chain) CertFreeCertificateChain(chain);
    CertFreeCertificateContext(server);
    return trusted;
}

}  // namespace

std::optional<HttpResponse> HttpsClient::post(const std::string& path, const std::string& body,
                                              const std::string& header) const {
    if (body.size() > std::numeric_limits<DWORD>::max()) return std::nullopt;
    const DWORD bodyLength = static_cast<DWORD>(body.size());
    const std::wstring wideAgent = widen(userAgent);
    const std::wstring wideHost = widen(host);
    const std::wstring widePath = widen(path);
    const std::wstring wideHeader = widen(header);

    Handle session(WinHttpOpen(wideAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return std::nullopt;
    // Name resolution keeps WinHTTP's default (no limit); the others are WinHTTP's
    // defaults unless the caller changed them.
    if (!WinHttpSetTimeouts(session.get(), 0, static_cast<int>(milliseconds(connectTimeout)),
                            static_cast<int>(milliseconds(stallTimeout)),
                            static_cast<int>(milliseconds(stallTimeout))))
        return std::nullopt;
    // A redirect would send the document, machine identifier and all, wherever the reply
    // points; the requests of this session inherit the policy.
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects))
        return std::nullopt;

    Handle connection(WinHttpConnect(session.get(), wideHost.c_str(), port, 0));
    if (!connection) return std::nullopt;

    Handle request(WinHttpOpenRequest(connection.get(), L"POST", widePath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return std::nullopt;

    const wchar_t* headerText = wideHeader.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : wideHeader.c_str();
    const DWORD headerLength = static_cast<DWORD>(wideHeader.size());
    LPVOID bodyData = bodyLength ? const_cast<char*>(body.data()) : WINHTTP_NO_REQUEST_DATA;

    if (caPem.empty()) {
        if (!WinHttpSendRequest(request.get(), headerText, headerLength, bodyData, bodyLength, bodyLength, 0))
            return std::nullopt;
    } else {
        // A private authority: WinHTTP may accept a root the system does not know, and the
        // chain is checked against the given authorities before any of the body leaves.
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags))
            return std::nullopt;
        if (!WinHttpSendRequest(request.get(), headerText, headerLength, WINHTTP_NO_REQUEST_DATA, 0, bodyLength, 0))
            return std::nullopt;
        if (!chainsToPrivateAuthority(request.get(), caPem)) return std::nullopt;
        DWORD sent = 0;
        while (sent < bodyLength) {
            DWORD written = 0;
            if (!WinHttpWriteData(request.get(), body.data() + sent, bodyLength - sent, &written) || written == 0)
                return std::nullopt;
            sent += written;
        }
    }

    if (!WinHttpReceiveResponse(request.get(), nullptr)) return std::nullopt;

    HttpResponse response;
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    response.statusCode = status;

    // From here on the response exists; a broken body ends the reading, not the response.
    // At most one byte past the limit is read, to learn that the reply goes on.
    while (!response.tooLarge) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available) || available == 0) break;
        bool progressed = false;
        while (available > 0) {
            const std::size_t start = response.body.size();
            const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(available, kMaxReplyBytes + 1 - start));
            response.body.resize(start + wanted);
            DWORD read = 0;
            if (!WinHttpReadData(request.get(), response.body.data() + start, wanted, &read)) read = 0;
            response.body.resize(start + read);
            if (read == 0) break;
            progressed = true;
            available -= read;
            if (response.body.size() > kMaxReplyBytes) {
                response.body.resize(kMaxReplyBytes);
                response.tooLarge = true;
                break;
            }
        }
        // A read that delivers nothing although data was announced would repeat forever.
        if (!progressed) break;
    }
    return response;
}

#include "update/system_trust.h"

#include <wincrypt.h>

#include <cstdio>

#include "common/log.h"
#include "common/unique_handle.h"

namespace {

// Revocation is not asked for (see the README); every other error of the
// chain refuses it.
constexpr DWORD kIgnoredChainErrors =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

struct ChainTraits {
    using Type = PCCERT_CHAIN_CONTEXT;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CertFreeCertificateChain(h); }
};

}  // namespace

UniqueCertContext PresentedCertificate(HINTERNET request) {
    PCCERT_CONTEXT raw = nullptr;
    DWORD length = sizeof(raw);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &length)) {
        return UniqueCertContext();
    }
    return UniqueCertContext(raw);
}

bool SystemTrustsServerChain(HINTERNET request, const wchar_t* host, ULONGLONG deadline) {
    const UniqueCertContext certificate = PresentedCertificate(request);
    if (!certificate) {
        return false;
    }
    const ULONGLONG now = GetTickCount64();
    if (deadline != 0 && now >= deadline) {
        LogEvent("trust", {{"result", "failed"}, {"reason", "timeout"}});
        return false;
    }
    LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuth;
    // Cache only: a fetch of an intermediate (or of anything a hostile
    // certificate names) would run outside every deadline of ours.
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate.get(), nullptr, certificate.get()->hCertStore,
                                 &chainPara, CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr,
                                 &rawChain)) {
        LogEvent("trust", {{"result", "failed"}, {"error", ErrorWithText(GetLastError())}});
        return false;
    }
    UniqueHandle<ChainTraits> chain(rawChain);
    // Wine's SSL policy passes a chain that stops at an issuer nobody knows;
    // the chain's own status tells on every system.
    const DWORD chainErrors = chain.get()->TrustStatus.dwErrorStatus & ~kIgnoredChainErrors;
    if (chainErrors != 0) {
        char text[16];
        std::snprintf(text, sizeof(text), "0x%08lx", chainErrors);
        LogEvent("trust", {{"result", "refused"}, {"chain_status", text}});
        return false;
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(host);
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status)) {
        LogEvent("trust", {{"result", "failed"}, {"error", ErrorWithText(GetLastError())}});
        return false;
    }
    if (status.dwError != 0) {
        LogEvent("trust", {{"result", "refused"}, {"error", ErrorWithText(status.dwError)}});
    }
    return status.dwError == 0;
}

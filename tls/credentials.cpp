#include "tls/credentials.h"

#include "net/failure.h"

namespace corvane::tls {

namespace {

// No default client certificate (a server asking for one gets none) and no
// verdict of SChannel's own: ours names the fault the way WinInet does.
constexpr DWORD credential_flags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_USE_STRONG_CRYPTO;

bool acquire(void* authentication_data, CredHandle& handle)
{
    TimeStamp expiry{};
    return security().AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                                nullptr, authentication_data, nullptr, nullptr, &handle,
                                                &expiry) == SEC_E_OK;
}

}  // namespace

Credentials::Credentials()
{
    // Only the newer structure can offer TLS 1.3; a platform that predates
    // it refuses it, and gets the older one with TLS 1.2 alone.
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols =
        SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = credential_flags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    if (acquire(&current, handle_))
        return;
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    older.dwFlags = credential_flags;
    if (!acquire(&older, handle_))
        throw net::Failure(codes::cannot_secure);
}

Credentials::~Credentials()
{
    security().FreeCredentialsHandle(&handle_);
}

}  // namespace corvane::tls

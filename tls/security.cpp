#include "tls/security.h"

#include <atomic>

namespace corvane::tls {

namespace {

// The only place the component calls SSPI and the chain engine itself.
class RealSecurity final : public SecurityPlatform {
public:
    SECURITY_STATUS AcquireCredentialsHandleW(SEC_WCHAR* principal, SEC_WCHAR* package, ULONG use, void* logon_id,
                                              void* auth_data, SEC_GET_KEY_FN get_key, void* get_key_argument,
                                              PCredHandle credentials, PTimeStamp expiry) override
    {
        return ::AcquireCredentialsHandleW(principal, package, use, logon_id, auth_data, get_key, get_key_argument,
                                           credentials, expiry);
    }
    SECURITY_STATUS FreeCredentialsHandle(PCredHandle credentials) override
    {
        return ::FreeCredentialsHandle(credentials);
    }
    SECURITY_STATUS InitializeSecurityContextW(PCredHandle credentials, PCtxtHandle context, SEC_WCHAR* target_name,
                                               ULONG requirements, ULONG reserved1, ULONG target_representation,
                                               PSecBufferDesc input, ULONG reserved2, PCtxtHandle new_context,
                                               PSecBufferDesc output, ULONG* attributes, PTimeStamp expiry) override
    {
        return ::InitializeSecurityContextW(credentials, context, target_name, requirements, reserved1,
                                            target_representation, input, reserved2, new_context, output,
                                            attributes, expiry);
    }
    SECURITY_STATUS DeleteSecurityContext(PCtxtHandle context) override { return ::DeleteSecurityContext(context); }
    SECURITY_STATUS QueryContextAttributesW(PCtxtHandle context, ULONG attribute, void* buffer) override
    {
        return ::QueryContextAttributesW(context, attribute, buffer);
    }
    SECURITY_STATUS ApplyControlToken(PCtxtHandle context, PSecBufferDesc input) override
    {
        return ::ApplyControlToken(context, input);
    }
    SECURITY_STATUS EncryptMessage(PCtxtHandle context, ULONG quality, PSecBufferDesc message,
                                   ULONG sequence) override
    {
        return ::EncryptMessage(context, quality, message, sequence);
    }
    SECURITY_STATUS DecryptMessage(PCtxtHandle context, PSecBufferDesc message, ULONG sequence,
                                   ULONG* quality) override
    {
        return ::DecryptMessage(context, message, sequence, quality);
    }
    SECURITY_STATUS FreeContextBuffer(void* buffer) override { return ::FreeContextBuffer(buffer); }
    BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT certificate, LPFILETIME time,
                                 HCERTSTORE additional_store, PCERT_CHAIN_PARA parameters, DWORD flags,
                                 void* reserved, PCCERT_CHAIN_CONTEXT* chain) override
    {
        return ::CertGetCertificateChain(engine, certificate, time, additional_store, parameters, flags, reserved,
                                         chain);
    }
    BOOL CertVerifyCertificateChainPolicy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain,
                                          PCERT_CHAIN_POLICY_PARA parameters,
                                          PCERT_CHAIN_POLICY_STATUS status) override
    {
        return ::CertVerifyCertificateChainPolicy(policy, chain, parameters, status);
    }
    void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain) override { ::CertFreeCertificateChain(chain); }
    BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate) override
    {
        return ::CertFreeCertificateContext(certificate);
    }
};

std::atomic<SecurityPlatform*> installed{nullptr};

}  // namespace

SecurityPlatform& real_security()
{
    static RealSecurity real;
    return real;
}

SecurityPlatform& security()
{
    SecurityPlatform* replacement = installed.load(std::memory_order_acquire);
    return replacement ? *replacement : real_security();
}

SecurityPlatform* install_security(SecurityPlatform* replacement)
{
    SecurityPlatform* previous = installed.exchange(replacement, std::memory_order_acq_rel);
    return previous ? previous : &real_security();
}

}  // namespace corvane::tls

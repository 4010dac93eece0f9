#pragma once
// Every SSPI and CryptoAPI call of the TLS layer goes through security().
// The shipped DLL forwards to the system; tests install a replacement that
// plays a server's handshake, its certificate's verdict and its records.

#include "frame/win32.h"

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
// SCH_CREDENTIALS, the only credentials that offer TLS 1.3.
#ifndef SCHANNEL_USE_BLACKLISTS
#define SCHANNEL_USE_BLACKLISTS
#endif
#include <wincrypt.h>
#include <subauth.h>
#include <security.h>
#include <schannel.h>

namespace corvane::tls {

class SecurityPlatform {
public:
    virtual ~SecurityPlatform() = default;

    virtual SECURITY_STATUS AcquireCredentialsHandleW(SEC_WCHAR* principal, SEC_WCHAR* package, ULONG use,
                                                      void* logon_id, void* auth_data, SEC_GET_KEY_FN get_key,
                                                      void* get_key_argument, PCredHandle credentials,
                                                      PTimeStamp expiry) = 0;
    virtual SECURITY_STATUS FreeCredentialsHandle(PCredHandle credentials) = 0;
    virtual SECURITY_STATUS InitializeSecurityContextW(PCredHandle credentials, PCtxtHandle context,
                                                       SEC_WCHAR* target_name, ULONG requirements, ULONG reserved1,
                                                       ULONG target_representation, PSecBufferDesc input,
                                                       ULONG reserved2, PCtxtHandle new_context,
                                                       PSecBufferDesc output, ULONG* attributes,
                                                       PTimeStamp expiry) = 0;
    virtual SECURITY_STATUS DeleteSecurityContext(PCtxtHandle context) = 0;
    virtual SECURITY_STATUS QueryContextAttributesW(PCtxtHandle context, ULONG attribute, void* buffer) = 0;
    virtual SECURITY_STATUS ApplyControlToken(PCtxtHandle context, PSecBufferDesc input) = 0;
    virtual SECURITY_STATUS EncryptMessage(PCtxtHandle context, ULONG quality, PSecBufferDesc message,
                                           ULONG sequence) = 0;
    virtual SECURITY_STATUS DecryptMessage(PCtxtHandle context, PSecBufferDesc message, ULONG sequence,
                                           ULONG* quality) = 0;
    virtual SECURITY_STATUS FreeContextBuffer(void* buffer) = 0;
    virtual BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT certificate, LPFILETIME time,
                                         HCERTSTORE additional_store, PCERT_CHAIN_PARA parameters, DWORD flags,
                                         void* reserved, PCCERT_CHAIN_CONTEXT* chain) = 0;
    virtual BOOL CertVerifyCertificateChainPolicy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain,
                                                  PCERT_CHAIN_POLICY_PARA parameters,
                                                  PCERT_CHAIN_POLICY_STATUS status) = 0;
    virtual void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain) = 0;
    virtual BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate) = 0;
};

// The calls in force: the real ones unless a test installed others.
SecurityPlatform& security();
// Tests only; nullptr restores the real calls. Returns the one in force.
SecurityPlatform* install_security(SecurityPlatform* replacement);
SecurityPlatform& real_security();

}  // namespace corvane::tls

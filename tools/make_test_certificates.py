#!/usr/bin/python3
"""Makes a throwaway CA and a server certificate for DNS name localhost.

Writes into FOLDER, which must not exist yet:
    ca.der       the CA certificate, DER, for a Windows certificate store
    server.pem   the server certificate followed by the CA's, PEM
    server.key   its private key, PEM, unencrypted
    wrong-name.pem  as server.pem, for another DNS name than localhost
    expired.pem     as server.pem, but no longer valid
    untrusted.pem   for localhost, from a second CA that is written nowhere
                    else, followed by that CA's certificate
    ready        written last, so a waiting caller never sees half the files

Every server certificate shares the key in server.key, so each failure case
differs from server.pem in one respect only.

Run with Debian's /usr/bin/python3, which has the cryptography package.
"""

import argparse
import datetime
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID


def new_key():
    # RSA rather than EC: the widest support among TLS stacks that may verify it.
    return rsa.generate_private_key(public_exponent=65537, key_size=2048)


def name(common_name):
    return x509.Name([x509.NameAttribute(NameOID.ORGANIZATION_NAME, "corvane tests"),
                      x509.NameAttribute(NameOID.COMMON_NAME, common_name)])


def certificate(subject, subject_key, issuer, issuer_key, hours, extensions, hours_before=1):
    # Backdated a little: the verifier's clock may run behind ours.
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (x509.CertificateBuilder()
               .subject_name(subject)
               .issuer_name(issuer)
               .public_key(subject_key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(hours=hours_before))
               .not_valid_after(now + datetime.timedelta(hours=hours)))
    for extension, critical in extensions:
        builder = builder.add_extension(extension, critical=critical)
    return builder.sign(issuer_key, hashes.SHA256())


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("folder")
    p.add_argument("--hours", type=int, default=24)
    args = p.parse_args()
    folder = args.folder
    os.mkdir(folder, 0o700)

    def new_ca(common_name):
        key = new_key()
        ca_name = name(common_name)
        # Valid since well before the expired certificate, so that only the
        # server certificate's dates are wrong there.
        cert = certificate(ca_name, key, ca_name, key, args.hours, [
            (x509.BasicConstraints(ca=True, path_length=0), True),
            (x509.KeyUsage(digital_signature=False, content_commitment=False, key_encipherment=False,
                           data_encipherment=False, key_agreement=False, key_cert_sign=True,
                           crl_sign=True, encipher_only=False, decipher_only=False), True),
            (x509.SubjectKeyIdentifier.from_public_key(key.public_key()), False),
        ], hours_before=24 * 30)
        return cert, key

    server_key = new_key()

    def server_certificate(dns_name, ca, ca_key, hours, hours_before=1):
        return certificate(name(dns_name), server_key, ca.subject, ca_key, hours, [
            (x509.BasicConstraints(ca=False, path_length=None), True),
            (x509.SubjectAlternativeName([x509.DNSName(dns_name)]), False),
            (x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), False),
            (x509.AuthorityKeyIdentifier.from_issuer_public_key(ca_key.public_key()), False),
        ], hours_before)

    def write(file_name, data):
        with open(os.path.join(folder, file_name), "wb") as f:
            f.write(data)

    def pem(*certificates):
        return b"".join(c.public_bytes(serialization.Encoding.PEM) for c in certificates)

    ca, ca_key = new_ca("corvane loopback test CA")
    stranger_ca, stranger_key = new_ca("corvane untrusted test CA")
    write("ca.der", ca.public_bytes(serialization.Encoding.DER))
    # The whole chain, so that a client lacking the CA sees an untrusted root
    # rather than a certificate whose issuer is nowhere to be found.
    write("server.pem", pem(server_certificate("localhost", ca, ca_key, args.hours), ca))
    write("wrong-name.pem", pem(server_certificate("not-localhost.test", ca, ca_key, args.hours), ca))
    write("expired.pem", pem(server_certificate("localhost", ca, ca_key, -24, hours_before=24 * 10), ca))
    write("untrusted.pem", pem(server_certificate("localhost", stranger_ca, stranger_key, args.hours), stranger_ca))
    write("server.key", server_key.private_bytes(serialization.Encoding.PEM,
                                                 serialization.PrivateFormat.PKCS8,
                                                 serialization.NoEncryption()))
    write("ready.tmp", b"ok\n")
    os.replace(os.path.join(folder, "ready.tmp"), os.path.join(folder, "ready"))
    return 0


if __name__ == "__main__":
    sys.exit(main())

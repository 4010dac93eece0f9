#!/usr/bin/python3
"""Makes a throwaway CA and a server certificate for DNS name localhost.

Writes into FOLDER, which must not exist yet:
    ca.der       the CA certificate, DER, for a Windows certificate store
    server.pem   the server certificate followed by the CA's, PEM
    server.key   its private key, PEM, unencrypted
    ready        written last, so a waiting caller never sees half the files

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


def certificate(subject, subject_key, issuer, issuer_key, hours, extensions):
    # Backdated a little: the verifier's clock may run behind ours.
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (x509.CertificateBuilder()
               .subject_name(subject)
               .issuer_name(issuer)
               .public_key(subject_key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(hours=1))
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

    ca_key = new_key()
    ca_name = name("corvane loopback test CA")
    ca = certificate(ca_name, ca_key, ca_name, ca_key, args.hours, [
        (x509.BasicConstraints(ca=True, path_length=0), True),
        (x509.KeyUsage(digital_signature=False, content_commitment=False, key_encipherment=False,
                       data_encipherment=False, key_agreement=False, key_cert_sign=True,
                       crl_sign=True, encipher_only=False, decipher_only=False), True),
        (x509.SubjectKeyIdentifier.from_public_key(ca_key.public_key()), False),
    ])

    server_key = new_key()
    server = certificate(name("localhost"), server_key, ca_name, ca_key, args.hours, [
        (x509.BasicConstraints(ca=False, path_length=None), True),
        (x509.SubjectAlternativeName([x509.DNSName("localhost")]), False),
        (x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), False),
        (x509.AuthorityKeyIdentifier.from_issuer_public_key(ca_key.public_key()), False),
    ])

    def write(file_name, data):
        with open(os.path.join(folder, file_name), "wb") as f:
            f.write(data)

    write("ca.der", ca.public_bytes(serialization.Encoding.DER))
    # The whole chain, so that a client lacking the CA sees an untrusted root
    # rather than a certificate whose issuer is nowhere to be found.
    write("server.pem", server.public_bytes(serialization.Encoding.PEM) + ca.public_bytes(serialization.Encoding.PEM))
    write("server.key", server_key.private_bytes(serialization.Encoding.PEM,
                                                 serialization.PrivateFormat.PKCS8,
                                                 serialization.NoEncryption()))
    write("ready.tmp", b"ok\n")
    os.replace(os.path.join(folder, "ready.tmp"), os.path.join(folder, "ready"))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Prepares the first present token for keydesk's screenshots: a container "demo-sm2" with a generated
SM2 signing key pair and a self-signed certificate, so that the certificate page has something to show.
Runs against the token library through its C interface (ctypes), inside scripts/with-vtoken.

    screenshot_token.py LIBKEYCORE [COMMON_NAME]
"""
import ctypes
import os
import subprocess
import sys
import tempfile

SAR_OK = 0
USER_PIN = b"12345678"  # the user PIN of a new virtual token
APPLICATION = b"KEYCORE-APP"  # its application
SGD_SM2_1 = 0x00020100


def main():
    lib = ctypes.CDLL(sys.argv[1])
    common_name = sys.argv[2] if len(sys.argv) > 2 else "Demo Holder"
    u32 = ctypes.c_uint32
    handle = ctypes.c_void_p

    def call(name, *args):
        function = getattr(lib, name)
        function.restype = u32
        rv = function(*args)
        if rv != SAR_OK:
            sys.exit("%s failed: 0x%08X" % (name, rv))

    names = ctypes.create_string_buffer(1024)
    size = u32(len(names))
    call("SKF_EnumDev", 1, names, ctypes.byref(size))
    if not names.value:
        sys.exit("no token present")
    dev, app, container = handle(), handle(), handle()
    retry = u32()
    call("SKF_ConnectDev", names.value, ctypes.byref(dev))
    call("SKF_OpenApplication", dev, APPLICATION, ctypes.byref(app))
    call("SKF_VerifyPIN", app, 1, USER_PIN, ctypes.byref(retry))
    call("SKF_CreateContainer", app, b"demo-sm2", ctypes.byref(container))
    blob = ctypes.create_string_buffer(132)
    call("SKF_GenECCKeyPair", container, SGD_SM2_1, blob)

    with tempfile.TemporaryDirectory() as work:
        der_path = os.path.join(work, "cert.der")
        subprocess.run(["openssl", "req", "-x509", "-utf8", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", os.path.join(work, "key.pem"),
                        "-subj", "/O=keycore/CN=" + common_name, "-days", "365", "-outform", "DER",
                        "-out", der_path], check=True, capture_output=True)
        with open(der_path, "rb") as der_file:
            der = der_file.read()
    call("SKF_ImportCertificate", container, 1, der, u32(len(der)))
    call("SKF_CloseContainer", container)
    call("SKF_ClearSecureState", app)
    print("token prepared: container demo-sm2 with an SM2 key pair and the certificate of \"%s\"" % common_name)


if __name__ == "__main__":
    main()

#!/bin/sh
# keydesk under Xvfb against a virtual token holding a container with a certificate: the window must
# come up on the X display and every main page must be saved as a real picture of it. Fails when the
# window does not come up (keydesk's screenshot mode then ends with status 1) or a picture is missing,
# has the wrong size or shows one colour only.
set -eu
build=${KEYCORE_BUILD_DIR:?}
source=${KEYCORE_SOURCE_DIR:?}
out=$(mktemp -d /tmp/keydesk-shots.XXXXXX)
unset QT_QPA_PLATFORM

# The X server starts outside with-vtoken, so that the token preload reaches keydesk but not the server.
LANG=en_US.UTF-8 xvfb-run -a -s "-screen 0 1024x768x24" "$source/scripts/with-vtoken" --no-isolate --tokens bot -- \
    sh -c 'python3 "$1/tests/manager/screenshot_token.py" "$2/bin/libkeycore.so" "Screenshot Holder" &&
        "$2/bin/keydesk" --screenshots "$3"' sh "$source" "$build" "$out"

python3 - "$out" <<'PY'
import struct, sys, zlib, os
expected = {"1-device-list.png": (700, 550), "2-key-information.png": (700, 550),
            "3-certificates.png": (700, 550), "4-message.png": (380, 270)}
for name, size in expected.items():
    path = os.path.join(sys.argv[1], name)
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", name + ": not a PNG file"
    width, height = struct.unpack(">II", data[16:24])
    assert (width, height) == size, "%s: %dx%d instead of %dx%d" % ((name, width, height) + size)
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + length]
        pos += 12 + length
    pixels = zlib.decompress(idat)
    assert len(set(pixels)) > 16, name + ": one colour only"
    print("ok", name, "%dx%d" % (width, height))
PY

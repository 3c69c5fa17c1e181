#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 on Debian 12:
#   - installs what is missing (the -posix mingw-w64 compilers, wine64, the host protoc, the
#     Debian source packages of POCO and protobuf, googletest's sources);
#   - builds POCO (Foundation, Net, Util, JSON, XML), protobuf (no protoc) and googletest static
#     for Windows, once, into a cache outside the checkout, keyed by their versions, our patches
#     and the recipe that builds them;
#   - builds OrvaneService.exe, orvane-client.exe and the platform-neutral test suites into
#     build/windows.
# Environment: ORVANE_WINDOWS_CACHE (default ${XDG_CACHE_HOME:-$HOME/.cache}/orvane-windows).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=2
triplet=x86_64-w64-mingw32
toolchain=$root/cmake/mingw-w64-x86_64.cmake
cache=${ORVANE_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvane-windows}

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 wine64 dpkg-dev patch googletest

# The Windows libraries are built from the sources of the versions installed for the host, so
# that the generated protocol code (host protoc) matches the Windows libprotobuf.
sourceVersion() { dpkg-query -W -f='${source:Version}' "$1"; }
pocoVersion=$(sourceVersion libpoco-dev)
protobufVersion=$(sourceVersion libprotobuf-dev)
gtestVersion=$(sourceVersion googletest)
[ "$(sourceVersion protobuf-compiler)" = "$protobufVersion" ] ||
    { echo "protoc and libprotobuf-dev differ in version" >&2; exit 1; }

if ! apt-cache showsrc poco 2>/dev/null | grep -q "^Version: $pocoVersion\$"; then
    echo "Enabling Debian's source packages"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            $sudo tee /etc/apt/sources.list.d/orvane-deb-src.sources >/dev/null
    else
        grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
            $sudo tee /etc/apt/sources.list.d/orvane-deb-src.list >/dev/null
    fi
    $sudo apt-get update
fi

patches=(scripts/windows/*.patch)
# The recipe below (how the dependencies are configured and built) is part of the key too.
recipe() { sed -n '/^if \[ ! -f "\$deps\/complete" \]; then$/,/^fi$/p' scripts/build-windows.sh; }
[ -n "$(recipe)" ] || { echo "build-windows.sh: the dependency recipe was not found" >&2; exit 1; }
key=$( { echo "poco $pocoVersion protobuf $protobufVersion googletest $gtestVersion"
         x86_64-w64-mingw32-g++-posix --version | head -1
         cat "$toolchain" cmake/mingw-w64-include/* "${patches[@]}"
         recipe; } | sha256sum | cut -c1-16)
deps=$cache/deps-$key
prefix=$deps/prefix
mkdir -p "$cache/src"

if [ ! -f "$deps/complete" ]; then
    # An unfinished build under the same key (same versions, patches and recipe) is resumed.
    echo "== Windows dependencies into $deps (once per version, patch set and recipe)"
    mkdir -p "$deps"
    (cd "$cache/src" &&
        { [ -d "poco-${pocoVersion%%-*}" ] || apt-get source -q "poco=$pocoVersion"; } &&
        { [ -d "protobuf-${protobufVersion%%-*}" ] || apt-get source -q "protobuf=$protobufVersion"; })

    # POCO: a patched copy, so the unpacked source stays as Debian ships it.
    if [ ! -f "$deps/poco-src/.patched" ]; then
        rm -rf "$deps/poco-src" "$deps/poco-build"
        cp -a "$cache/src/poco-${pocoVersion%%-*}" "$deps/poco-src"
        for patchFile in "${patches[@]}"; do
            case $(basename "$patchFile") in
                poco-*) echo "Applying $patchFile"; patch -d "$deps/poco-src" -p1 < "$patchFile" ;;
            esac
        done
        touch "$deps/poco-src/.patched"
    fi

    export ORVANE_WINDOWS_PREFIX=$prefix
    common=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF)

    nice -n 10 cmake -S "$deps/poco-src" -B "$deps/poco-build" "${common[@]}" \
        -DENABLE_FOUNDATION=ON -DENABLE_NET=ON -DENABLE_UTIL=ON -DENABLE_JSON=ON -DENABLE_XML=ON \
        -DENABLE_ENCODINGS=OFF -DENABLE_CRYPTO=OFF -DENABLE_NETSSL=OFF -DENABLE_NETSSL_WIN=OFF \
        -DENABLE_DATA=OFF -DENABLE_DATA_SQLITE=OFF -DENABLE_DATA_MYSQL=OFF \
        -DENABLE_DATA_POSTGRESQL=OFF -DENABLE_DATA_ODBC=OFF -DENABLE_ACTIVERECORD=OFF \
        -DENABLE_ACTIVERECORD_COMPILER=OFF -DENABLE_MONGODB=OFF -DENABLE_REDIS=OFF \
        -DENABLE_PDF=OFF -DENABLE_SEVENZIP=OFF -DENABLE_ZIP=OFF -DENABLE_APACHECONNECTOR=OFF \
        -DENABLE_CPPPARSER=OFF -DENABLE_JWT=OFF -DENABLE_POCODOC=OFF -DENABLE_PAGECOMPILER=OFF \
        -DENABLE_PAGECOMPILER_FILE2PAGE=OFF -DENABLE_TESTS=OFF -DPOCO_UNBUNDLED=OFF \
        -DPOCO_MT=OFF
    nice -n 10 cmake --build "$deps/poco-build" -j "$jobs"
    cmake --install "$deps/poco-build"

    nice -n 10 cmake -S "$cache/src/protobuf-${protobufVersion%%-*}" -B "$deps/protobuf-build" \
        "${common[@]}" -Dprotobuf_BUILD_TESTS=OFF -Dprotobuf_BUILD_PROTOC_BINARIES=OFF \
        -Dprotobuf_BUILD_LIBPROTOC=OFF -Dprotobuf_WITH_ZLIB=OFF -Dprotobuf_MSVC_STATIC_RUNTIME=OFF
    nice -n 10 cmake --build "$deps/protobuf-build" -j "$jobs"
    cmake --install "$deps/protobuf-build"

    nice -n 10 cmake -S /usr/src/googletest -B "$deps/gtest-build" "${common[@]}" \
        -Dgtest_disable_pthreads=OFF
    nice -n 10 cmake --build "$deps/gtest-build" -j "$jobs"
    cmake --install "$deps/gtest-build"

    rm -rf "$deps/poco-src" "$deps/poco-build" "$deps/protobuf-build" "$deps/gtest-build"
    touch "$deps/complete"
fi

echo "== Windows programs and platform-neutral suites into build/windows"
export ORVANE_WINDOWS_PREFIX=$prefix
nice -n 10 cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$prefix" \
    -DProtobuf_PROTOC_EXECUTABLE=/usr/bin/protoc
nice -n 10 cmake --build build/windows -j "$jobs"

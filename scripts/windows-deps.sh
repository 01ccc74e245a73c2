# The Windows programs' libraries, cross-built from Debian's own source packages: libpng,
# libjpeg-turbo, a static OpenCV with only the modules camsteer uses, and GoogleTest from
# Debian's googletest sources. Sourced by scripts/build-windows, which sets root, deps, jobs,
# as_root and toolchain. Each library is installed into a folder of $deps named by its source
# version (and, for OpenCV, by its options), and used as it is when that folder is complete.

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
apt_dir=/etc/apt
own_src_list=/etc/apt/sources.list.d/camsteer-deb-src.sources

# A deb-src stanza for the mirror the apt lists use for this release, in deb822 form.
deb_src_stanza() {
    local file
    for file in "$apt_dir"/sources.list.d/*.sources; do
        [ -e "$file" ] || continue
        awk -v suite="$codename" '
            function flush() {
                if (deb && has_suite && uris != "") {
                    print "Types: deb-src\nURIs: " uris "\nSuites: " suite "\nComponents: " comps
                    if (key != "") print "Signed-By: " key
                    found = 1
                    exit
                }
                deb = 0; has_suite = 0; uris = ""; comps = ""; key = ""
            }
            /^[ \t]*$/ { flush(); next }
            /^[^ \t#]/ {
                field = tolower($1)
                if (field == "types:") for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1
                if (field == "uris:") uris = $2
                if (field == "suites:") for (i = 2; i <= NF; i++) if ($i == suite) has_suite = 1
                if (field == "components:") { $1 = ""; comps = substr($0, 2) }
                if (field == "signed-by:" && NF == 2) key = $2
            }
            END { if (!found) flush() }' "$file" | grep . && return 0
    done
    for file in "$apt_dir"/sources.list "$apt_dir"/sources.list.d/*.list; do
        [ -e "$file" ] || continue
        awk -v suite="$codename" '
            $1 != "deb" { next }
            {
                key = ""; i = 2
                if ($2 ~ /^\[/) {
                    for (; i <= NF; i++) {
                        if ($i ~ /^\[?signed-by=/) { key = $i; sub(/^\[?signed-by=/, "", key); sub(/\]$/, "", key) }
                        if ($i ~ /\]$/) { i++; break }
                    }
                }
                if ($(i + 1) != suite) next
                comps = ""
                for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
                print "Types: deb-src\nURIs: " $i "\nSuites: " suite "\nComponents: " comps
                if (key != "") print "Signed-By: " key
                exit
            }' "$file" | grep . && return 0
    done
    return 1
}

# Makes `apt-get source` work: a deb-src entry for the release's mirror, in a file of our own.
enable_sources() {
    apt-cache showsrc --only-source opencv 2>/dev/null | grep -q '^Version:' && return 0
    if [ ! -e "$own_src_list" ]; then
        local stanza
        if ! stanza=$(deb_src_stanza); then
            echo "build-windows: no Debian mirror for '$codename' in the apt lists; add a deb-src entry for it" >&2
            return 1
        fi
        printf '%s\n' "$stanza" | "${as_root[@]}" tee "$own_src_list" >/dev/null
        echo "build-windows: source packages from $own_src_list" >&2
    fi
    "${as_root[@]}" apt-get update -q >&2
}

# The newest version of a source package apt offers.
source_version() {
    local best= version
    for version in $(apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p'); do
        if [ -z "$best" ] || dpkg --compare-versions "$version" gt "$best"; then
            best=$version
        fi
    done
    [ -n "$best" ] || { echo "build-windows: apt offers no source of $1" >&2; return 1; }
    echo "$best"
}

# Some mirrors carry a source package's tarballs but not its .dsc, without which apt-get source
# does not unpack what it fetched (each file apt got is checked against the release's signed
# Sources list all the same). Unpacks them as dpkg-source would: the upstream tarball, its
# components in folders of their names, then Debian's folder and its patches, in order; without
# Debian's part (not on the mirror either) the upstream source alone.
unpack_without_dsc() {
    local package=$1 version=$2 dir=$3 upstream top component patch
    upstream=${version#*:}
    upstream=${upstream%-*}
    local orig=("$dir/${package}_$upstream".orig.tar.*)
    [ -e "${orig[0]}" ] || return 1
    echo "build-windows: the mirror has no ${package}_${version#*:}.dsc; unpacking its tarballs" >&2
    top="$dir/$package-$upstream"
    mkdir -p "$top"
    tar -xf "${orig[0]}" -C "$top" --strip-components=1 || return 1
    for component in "$dir/${package}_$upstream".orig-*.tar.*; do
        [ -e "$component" ] || continue
        local name=${component##*.orig-}
        name=${name%%.tar.*}
        mkdir -p "$top/$name"
        tar -xf "$component" -C "$top/$name" --strip-components=1 || return 1
    done
    local debian=("$dir/${package}_${version#*:}".debian.tar.*)
    if [ ! -e "${debian[0]}" ]; then
        echo "build-windows: nor its Debian changes; building ${package}'s upstream source" >&2
        return 0
    fi
    tar -xf "${debian[0]}" -C "$top" || return 1
    [ -f "$top/debian/patches/series" ] || return 0
    while read -r patch _; do
        case $patch in '' | '#'*) continue ;; esac
        patch -d "$top" -p1 -s -N <"$top/debian/patches/$patch" >&2 || return 1
    done <"$top/debian/patches/series"
}

# Fetches and unpacks a source package (as the user running this) and prints its folder.
fetch_source() {
    local package=$1 version=$2 dir="$deps/src/$1-${2//:/_}"
    if [ ! -e "$dir/.unpacked" ]; then
        rm -rf "$dir"
        mkdir -p "$dir"
        if ! (cd "$dir" && apt-get source --only-source -q "$package=$version" >&2); then
            unpack_without_dsc "$package" "$version" "$dir" || return 1
        fi
        touch "$dir/.unpacked"
    fi
    find "$dir" -mindepth 1 -maxdepth 1 -type d -print -quit
}

# A fetched source once its library is installed: the install is what later runs reuse, and
# OpenCV's source alone takes some 400 MB.
drop_source() {
    rm -rf "${1%/*}"
}

launchers=()
if command -v ccache >/dev/null; then
    launchers=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Configures, builds and installs one library: cross_build NAME SOURCE PREFIX CMAKE-OPTIONS...
cross_build() {
    local name=$1 source=$2 prefix=$3
    shift 3
    local build="$deps/build/${prefix##*/}" log="$deps/build/${prefix##*/}.log"
    echo "== building $name for Windows into ${prefix#"$root"/}" >&2
    rm -rf "$prefix" "$build"
    mkdir -p "$deps/build"
    # The progress lines only; the whole output stays in the log, shown when the build fails.
    if { cmake -S "$source" -B "$build" -G Ninja -Wno-dev --no-warn-unused-cli \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" "${launchers[@]}" "$@" &&
        cmake --build "$build" -j"$jobs" && cmake --install "$build"; } </dev/null 2>&1 |
        tee "$log" | awk '/^\[[0-9]+\/[0-9]+\] /{ print; fflush() }' >&2; then
        rm -rf "$build" "$log"
        touch "$prefix/.complete"
        return 0
    fi
    tail -n 60 "$log" >&2
    echo "build-windows: building $name failed; the whole output is in $log" >&2
    return 1
}

zlib_options=(-DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a
    -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include)

# Builds what is missing and sets png_dir, jpeg_dir, opencv_dir and gtest_dir.
build_deps() {
    enable_sources || return 1
    local version source

    version=$(source_version libpng1.6) || return 1
    png_dir="$deps/libpng-${version//:/_}"
    if [ ! -e "$png_dir/.complete" ]; then
        source=$(fetch_source libpng1.6 "$version") &&
            cross_build libpng "$source" "$png_dir" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
                -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_TOOLS=OFF "${zlib_options[@]}" &&
            drop_source "$source" || return 1
    fi

    version=$(source_version libjpeg-turbo) || return 1
    jpeg_dir="$deps/libjpeg-turbo-${version//:/_}"
    if [ ! -e "$jpeg_dir/.complete" ]; then
        source=$(fetch_source libjpeg-turbo "$version") &&
            cross_build libjpeg-turbo "$source" "$jpeg_dir" -DWITH_SIMD=OFF -DENABLE_SHARED=OFF \
                -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF &&
            drop_source "$source" || return 1
    fi

    # Only the modules the programs use, the Win32 windows and DirectShow cameras; the
    # libraries above for PNG and JPEG (the MJPEG clip reader decodes with the latter); the
    # CPU's baseline instructions without run-time dispatch, which would double the build.
    local opencv_options=(
        -DBUILD_LIST=core,imgproc,imgcodecs,videoio,highgui -DBUILD_SHARED_LIBS=OFF
        -DWITH_WIN32UI=ON -DWITH_DSHOW=ON -DWITH_MSMF=OFF -DWITH_OBSENSOR=OFF
        -DVIDEOIO_ENABLE_PLUGINS=OFF -DHIGHGUI_ENABLE_PLUGINS=OFF -DCPU_DISPATCH=
        -DWITH_QT=OFF -DWITH_GTK=OFF -DWITH_FFMPEG=OFF -DWITH_GSTREAMER=OFF -DWITH_IPP=OFF
        -DWITH_ITT=OFF -DWITH_OPENCL=OFF -DWITH_TBB=OFF -DWITH_OPENMP=OFF -DWITH_EIGEN=OFF
        -DWITH_LAPACK=OFF -DWITH_PROTOBUF=OFF -DWITH_WEBP=OFF -DWITH_TIFF=OFF -DWITH_OPENJPEG=OFF
        -DWITH_JASPER=OFF -DWITH_OPENEXR=OFF -DWITH_AVIF=OFF -DWITH_SPNG=OFF -DWITH_IMGCODEC_HDR=OFF
        -DWITH_IMGCODEC_PFM=OFF -DWITH_IMGCODEC_PXM=OFF -DWITH_IMGCODEC_SUNRASTER=OFF
        -DWITH_OPENGL=OFF -DWITH_DIRECTX=OFF -DWITH_VA=OFF -DWITH_VTK=OFF -DWITH_CUDA=OFF
        -DWITH_ADE=OFF -DWITH_QUIRC=OFF -DWITH_CAROTENE=OFF -DWITH_1394=OFF -DWITH_GDAL=OFF
        -DWITH_GDCM=OFF -DWITH_OPENVX=OFF -DWITH_VULKAN=OFF -DWITH_HALIDE=OFF -DWITH_ONNX=OFF
        -DWITH_FLATBUFFERS=OFF
        -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_opencv_apps=OFF
        -DBUILD_JAVA=OFF -DBUILD_opencv_python3=OFF -DBUILD_opencv_python2=OFF -DBUILD_DOCS=OFF
        -DBUILD_ZLIB=OFF -DBUILD_PNG=OFF -DBUILD_JPEG=OFF -DBUILD_ITT=OFF -DBUILD_IPP_IW=OFF
        -DBUILD_PROTOBUF=OFF -DOPENCV_GENERATE_PKGCONFIG=OFF -DINSTALL_CREATE_DISTRIB=OFF
        "${zlib_options[@]}"
        -DPNG_LIBRARY="$(ls "$png_dir"/lib/libpng*.a | head -n 1)" -DPNG_PNG_INCLUDE_DIR="$png_dir/include"
        -DJPEG_LIBRARY="$jpeg_dir/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$jpeg_dir/include"
    )
    version=$(source_version opencv) || return 1
    local key
    key=$(printf '%s\n' "${opencv_options[@]}" | sed "s|$deps/||" | md5sum | cut -c1-8)
    opencv_dir="$deps/opencv-${version//:/_}-$key"
    if [ ! -e "$opencv_dir/.complete" ]; then
        source=$(fetch_source opencv "$version") &&
            cross_build OpenCV "$source" "$opencv_dir" "${opencv_options[@]}" &&
            drop_source "$source" || return 1
    fi

    version=$(dpkg-query -W -f='${Version}' googletest) || return 1
    gtest_dir="$deps/googletest-${version//:/_}"
    if [ ! -e "$gtest_dir/.complete" ]; then
        cross_build GoogleTest /usr/src/googletest "$gtest_dir" -DINSTALL_GTEST=ON \
            -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF || return 1
    fi
}

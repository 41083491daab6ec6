# shellcheck shell=sh
# shellcheck disable=SC2034 # arch, loader and stand_in are for the script that sources this
# Sourced by scripts that run the program under Wine: picks the build and
# loader. The shipped program is the 32-bit one; a machine whose kernel can't
# run 32-bit programs (so neither Wine's 32-bit loader) uses the 64-bit one,
# whose prefix gets Wine's 64-bit registration tool as a stand-in for the
# 32-bit one (see cmake/prepare-wine-prefix).
# shellcheck source=../cmake/wine-host.sh
. cmake/wine-host.sh
if host_runs_32bit; then
    arch=i686 loader=/usr/lib/wine/wine stand_in=""
else
    arch=x86_64 loader=/usr/lib/wine/wine64
    stand_in="this machine can't run 32-bit programs: the 64-bit build stands in for the 32-bit one, and Wine's 64-bit registration tool for the 32-bit tool, with the test components built for x64 (so the log says of each DLL that it is built for x64, which the real 32-bit tool could not load)"
    echo "note: $stand_in" >&2
fi

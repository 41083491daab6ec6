# Sourced by scripts that run the program under Wine: picks the build and
# loader. The shipped program is the 32-bit one; a machine whose kernel can't
# run 32-bit programs (so neither Wine's 32-bit loader) uses the 64-bit one.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    arch=i686 loader=/usr/lib/wine/wine
else
    arch=x86_64 loader=/usr/lib/wine/wine64
    echo "note: this machine can't run 32-bit programs; the 64-bit build stands in" >&2
fi

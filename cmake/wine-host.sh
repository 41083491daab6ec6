# shellcheck shell=sh
# Sourced by the scripts that run Windows programs under Wine: what this
# machine can run, and how a prefix's registration tool is laid out.
#
# A kernel without 32-bit support refuses Wine's 32-bit loader ("Exec format
# error"), and with it every 32-bit Windows program, the 32-bit registration
# tool among them; 64-bit Wine still works. There a prefix gets a stand-in:
# Wine's 64-bit regsvr32.exe as the 32-bit system folder's tool, facing the
# test components built for x64 (tests/x64).

host_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# Whether PREFIX was laid out with the stand-in tool.
prefix_has_stand_in() { [ -f "$1/.ready-stand-in-tool" ]; }

# The folder of the test components and COM client that a prefix's tool takes.
component_folder() { # BUILD_DIR PREFIX
    if prefix_has_stand_in "$2"; then echo "$1/tests/x64"; else echo "$1/tests"; fi
}

# Exits with 77 (a skipped test) when this machine can't run LOADER.
require_loader() { # LOADER
    if ! "$1" --version >/dev/null 2>&1; then
        echo "skipped: this machine can't run $1 (no 32-bit programs)"
        exit 77
    fi
}

# The Unix path of a folder the prefix's Windows side names by an environment
# variable (TMP, APPDATA), as a program there gets it: the folders are
# Wine's to lay out, and differ between its versions. Needs WINEPREFIX.
prefix_folder() { # LOADER VARIABLE
    windows=$("$1" cmd.exe /c echo "%$2%" 2>/dev/null | tr -d '\r')
    "$1" winepath.exe -u "$windows" 2>/dev/null | tr -d '\r'
}

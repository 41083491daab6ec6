# shellcheck shell=sh
# Sourced by scripts/setup, which notes what it could not do, and by
# scripts/test, which reads the notes for its summary. The notes file holds a
# note a line, KEY=VALUE: the value is the rest of the line after the first
# "=", as it was written. The keys:
#   index-failed       a package index apt could not fetch, a note for each
#   no-32bit-wine      apt's reason, once 32-bit Wine was left out
#   no-inno-compiler   npm's reason the Inno Setup compiler was not
#                      installed, or apt's for Node.js and npm
# A value is what apt or npm said, so the file is only ever read as text.
#
#   add_setup_note FILE KEY VALUE  adds a note; line breaks in VALUE become
#                                  spaces, so that it stays one note
#   setup_note_values FILE KEY     prints KEY's values, a line each, in the
#                                  order they were noted; none without FILE

add_setup_note() { # FILE KEY VALUE
    printf '%s=%s\n' "$2" "$(printf '%s' "$3" | tr '\n' ' ')" >>"$1"
}

setup_note_values() { # FILE KEY
    [ -f "$1" ] || return 0
    while IFS= read -r note || [ -n "$note" ]; do
        case "$note" in
            "$2="*) printf '%s\n' "${note#"$2="}" ;;
        esac
    done <"$1"
}

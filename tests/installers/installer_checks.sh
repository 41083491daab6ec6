# shellcheck shell=sh
# Shared by the installer tests: a work folder, a seeded recent-projects file,
# a component in the system folder, and the checks after installation and
# after removal.
# Expects here, build, prefix, loader and arch to be set; sets work, log,
# components and the class ids.
: "${here:?}" "${build:?}" "${prefix:?}" "${loader:?}" "${arch:?}"

# shellcheck source=../../cmake/wine-host.sh
. "$here/../../cmake/wine-host.sh"
require_loader "$loader"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The test components and COM client that the prefix's registration tool takes.
components=$(component_folder "$build" "$prefix")
# The file the product's class is registered to, in the view that tool writes:
# the 32-bit one, or the 64-bit one where the 64-bit stand-in takes its place.
server_path() {
    if prefix_has_stand_in "$prefix"; then class_view=64; else class_view=32; fi
    "$loader" reg query "HKCR\\CLSID\\$product_class\\InprocServer32" /ve "/reg:$class_view" 2>/dev/null |
        tr -d '\r' | awk '/REG_SZ/ { sub(/.*REG_SZ +/, ""); print }'
}

# The user's temporary and application data folders, as the prefix has them
# (the program takes TMP first, as GetTempPathW does).
log="$(prefix_folder "$loader" TMP)/QLPostlude.log"
recent="$(prefix_folder "$loader" APPDATA)/Corvane/Quillora/recent_projects.json"
# shellcheck disable=SC2034 # read by the scripts that source this
system_class="{5B0C1E2A-7D43-4C8B-9E61-2F3A4B5C6D01}"
# shellcheck disable=SC2034
product_class="{5B0C1E2A-7D43-4C8B-9E61-2F3A4B5C6D02}"
failures=0
# shellcheck disable=SC2034 # read by the scripts that source this
# Wine's major version: Wine 10 starts programs with a limited token, as
# Windows does under UAC, where Wine 8 gives every process an elevated one.
wine_major=$("$loader" --version | sed -n 's/^wine-\([0-9]*\).*/\1/p')
# shellcheck disable=SC2034
elevated="QL Custom Action: running with administrator rights"
# shellcheck disable=SC2034
limited="QL Custom Action: running without administrator rights"

windows_path() { echo "Z:$1" | tr / '\\'; }
check() {
    if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); show_state; fi
}
# Waits until CONDITION holds, at most the given tenths of a second; the
# check after it says whether it did.
wait_until() { # CONDITION TENTHS_OF_A_SECOND
    waited=0
    until eval "$1" || [ "$waited" -ge "$2" ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
}
# After a failed check, the sample product's entries as the registry holds
# them, both views: so that a failure on another machine says what it saw.
show_state() {
    for state_view in 32 64; do
        for state_key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
            'HKLM\Software\Microsoft\Active Setup\Installed Components'; do
            "$loader" reg query "$state_key" /s "/reg:$state_view" 2>/dev/null | tr -d '\r' |
                awk -v view="$state_view" '/^HKEY/ { if (keep) printf "%s", block; block = ""; keep = 0 }
                    NF { block = block "  seen in the " view "-bit view: " $0 "\n" }
                    /QL Postlude|Postlude_WB_QL_install/ { keep = 1 }
                    END { if (keep) printf "%s", block }'
        done
    done | cat
}
records() { iconv -f UTF-16 -t UTF-8 "$log" | cut -c40- | tr -d '\r'; }
# The sample product's entries among the installed programs, in both views.
products_listed() {
    for view in 32 64; do
        "$loader" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "/reg:$view" 2>/dev/null
    done | tr -d '\r' | grep -c 'DisplayName.*QL Postlude Sample Product' || true
}
registered() { "$loader" "$components/com_probe.exe" "$1"; }

# A fresh folder for the installer and what it is built from.
prepare_work_folder() {
    work="$build/$1"
    rm -rf "$work"
    mkdir -p "$work"
}

# Nothing registered and a recent-projects file holding both tokens, so that
# only the installation can register and seed.
prepare_user() {
    cp "$components/itcc.dll" "$prefix/drive_c/windows/syswow64/itcc.dll"
    "$loader" 'C:\windows\syswow64\regsvr32.exe' /s /u 'C:\windows\syswow64\itcc.dll' || true
    mkdir -p "$(dirname "$recent")"
    printf '["QLPJ1",\n "QLPJ2"]\n' >"$recent"
    rm -f "$log"
    check "nothing registered before" '! registered "$system_class" && ! registered "$product_class"'
}

# Takes how many post-install passes the installation runs in the user's
# profile: the MSI runs one as the system account and one as the user, which
# Wine (one user, no UAC) both runs as the user.
check_installed() {
    passes=$1
    check "install ran the post-install pass $passes time(s)" \
        '[ "$(records | grep -cx "End PostPayloadinstallPostlude")" = "$passes" ]'
    # (in a folder of its own under the product's folder, for NSIS and Inno)
    check "the installation directory arrived with one trailing backslash" \
        'records | grep -Eqx "InstallDir is C:.*[^\\\\]\\\\Sample Product\\\\([^\\\\]+\\\\)?"'
    check "both components registered" 'registered "$system_class" && registered "$product_class"'
    check "recent projects seeded" \
        'grep -q "Documents/My Quillora Projects/Corvane Quillora/Samples/Brew a Mocha/Brew_a_Mocha.qlpj" "$recent"'
    check "no token left" '! grep -q QLPJ "$recent"'
    # The removal's checks then read only what the removal logged.
    rm -f "$log"
}

check_removed() {
    check "removal ran the uninstall pass" 'records | grep -qx " End uninstallPostlude"'
    check "the product's component unregistered" '! registered "$product_class"'
    check "the system folder's component still registered" 'registered "$system_class"'
}

# Another user of the machine, as far as a program run as the user can
# tell: the profile's application data and documents folders pointed at a
# folder of their own, and none of Active Setup's per-user copies. Wine has
# one user, so the tests make this one; become_first_user undoes it.
second_profile="$prefix/drive_c/users/Public/QL second user"
# shellcheck disable=SC2034 # read by the scripts that source this
second_recent="$second_profile/AppData/Corvane/Quillora/recent_projects.json"
shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
users_components='HKCU\Software\Microsoft\Active Setup\Installed Components'
# (Each loop runs in a subshell of its own: a caller's $view stays its own.)
forget_logons() {
    for logon_view in 32 64; do
        "$loader" reg delete "$users_components" /f "/reg:$logon_view" >/dev/null 2>&1 || true
    done | cat
}
become_second_user() {
    rm -rf "$second_profile"
    mkdir -p "$second_profile/AppData" "$second_profile/Documents"
    "$loader" reg export "$shell_folders" 'C:\ql-first-user.reg' /y >/dev/null
    "$loader" reg add "$shell_folders" /v AppData /t REG_EXPAND_SZ /d 'C:\users\Public\QL second user\AppData' /f >/dev/null
    "$loader" reg add "$shell_folders" /v Personal /t REG_EXPAND_SZ /d 'C:\users\Public\QL second user\Documents' /f >/dev/null
    forget_logons
}
become_first_user() {
    "$loader" reg import 'C:\ql-first-user.reg' >/dev/null
    rm -f "$prefix/drive_c/ql-first-user.reg"
    forget_logons
}
# The user's logon as Windows runs Active Setup: prints "ran ID: COMMAND"
# for each entry it ran.
logon() { "$loader" "$build/tests/logon_step.exe" | tr -d '\r'; }
# A value of the sample's Active Setup entry in VIEW (32 or 64): its type
# and data, as "REG_SZ 1,0,0".
active_setup_value() { # ID VALUE VIEW
    "$loader" reg query "HKLM\\Software\\Microsoft\\Active Setup\\Installed Components\\$1" /v "$2" "/reg:$3" \
        2>/dev/null | tr -d '\r' | awk -v value="$2" '$1 == value { $1 = ""; sub(/^ +/, ""); print }'
}
# The sample's Active Setup entries, in both views: one line per view.
active_setup_entries() { # ID
    for entry_view in 32 64; do
        "$loader" reg query "HKLM\\Software\\Microsoft\\Active Setup\\Installed Components\\$1" "/reg:$entry_view" \
            2>/dev/null | tr -d '\r' | grep -q StubPath && echo "$entry_view"
    done | cat
}

finish() {
    echo "$failures failed"
    [ "$failures" = 0 ]
}

# Adds to an MSI the action that fails an installation on purpose after the
# post-install passes, when QL_TEST_FAIL_AFTER_ACTIONS=1 is passed to msiexec
# (the program ends with -1 on an empty command line); it is never part of a
# package that ships.
add_test_failure() { # MSI
    msibuild "$1" -q "INSERT INTO CustomAction (Action, Type, Source, Target)
                      VALUES ('TestFailureAfterActions', 3090, 'PostludeExe', '')"
    msibuild "$1" -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence)
                      VALUES ('TestFailureAfterActions', 'QL_TEST_FAIL_AFTER_ACTIONS = \"1\" AND NOT REMOVE', 6520)"
}

# Removes the sample products that an earlier, failed run left installed in
# this prefix, so that each run starts from none.
remove_leftover_products() {
    for view in 32 64; do
        "$loader" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "/reg:$view" 2>/dev/null
    done | tr -d '\r' | awk '/^HKEY/ { key = $0 } /DisplayName.*QL Postlude Sample Product/ { print key }' |
        grep -o '{[^}]*}$' | sort -u | while read -r code; do
        "$loader" msiexec /x "$code" /qn >/dev/null 2>&1 || true
    done
}

# The authoring of a built MSI that Wine can't run as Windows does: the type
# bits, conditions and schedule of its actions.
check_msi_authoring() { # MSI
    echo "-- the authoring that Wine can't run as Windows does"
    package=$1
    action_type() { msiinfo export "$package" CustomAction | awk -F '\t' -v a="$1" '$1 == a { print $2 }'; }
    sequence() { msiinfo export "$package" InstallExecuteSequence | awk -F '\t' -v a="$1" '$1 == a { print $3 }'; }
    condition() { msiinfo export "$package" InstallExecuteSequence | awk -F '\t' -v a="$1" '$1 == a { print $2 }'; }
    check "the user action is Terminal Server aware (0x4000)" '[ $(( $(action_type PostInstallAsUser) & 0x4000 )) != 0 ]'
    check "the system action's exit code is checked (no 0x40)" '[ $(( $(action_type PostInstallAsSystem) & 0x40 )) = 0 ]'
    check "the system action asks for a failure code" \
        'msiinfo export "$package" CustomAction | grep -q "^PostInstallAsSystem.*-failOnError 1"'
    for undo in UndoPostInstallAsSystem:PostInstallAsSystem UndoUninstallAsSystem:UninstallAsSystem; do
        check "${undo%%:*} is a rollback action (0x100) scheduled just before ${undo#*:}" \
            '[ $(( $(action_type ${undo%%:*}) & 0x100 )) != 0 ] && [ "$(sequence ${undo%%:*})" -lt "$(sequence ${undo#*:})" ]'
    done
    check "the undo of the system pass runs in a rollback before the installed files are taken away" \
        '[ "$(sequence UndoPostInstallAsSystem)" -gt "$(sequence InstallFiles)" ]'
    check "the removal's pass and its undo run while the files are there, and in a rollback once they are back" \
        '[ "$(sequence UninstallAsSystem)" -lt "$(sequence RemoveFiles)" ] &&
         [ "$(sequence UndoUninstallAsSystem)" -lt "$(sequence RemoveFiles)" ]'
    check "the installation folder is read back before costing" \
        'msiinfo export "$package" AppSearch | grep -q "^INSTALLDIR	RememberedInstallDir" &&
         [ "$(sequence AppSearch)" -lt "$(sequence CostFinalize)" ]'
    check "the undo of the system pass is for a first installation only" \
        'condition UndoPostInstallAsSystem | grep -q "^NOT Installed AND NOT WIX_UPGRADE_DETECTED AND"'
    check "the older product is removed inside the installation's script, before anything is installed" \
        '[ "$(sequence RemoveExistingProducts)" -gt "$(sequence InstallInitialize)" ] &&
         [ "$(sequence RemoveExistingProducts)" -lt "$(sequence ProcessComponents)" ]'
    check "the package holds no action of the tests" '! msiinfo export "$package" CustomAction | grep -q TestFailure'
    check_msi_active_setup
}

# The template and the Active Setup entry as the package's tables hold them
# (Windows reads these tables; Wine's reading of them is shown by the test).
check_msi_active_setup() {
    table() { msiinfo export "$package" "$1" | tr -d '\r' | awk 'NR > 3'; }
    property() { table Property | awk -F '\t' -v p="$1" '$1 == p { print $2 }'; }
    # shellcheck disable=SC2034 # read by the checks, which eval their condition
    user_command=$(table CustomAction | awk -F '\t' '$1 == "PostInstallAsUser" { print $4 }')
    check "the user action runs the user's part with the template in the product's folder" \
        '[ "$user_command" = "-Post_install 1 -postInstallPart user -recentProjectsTemplate \"[INSTALLDIR]recent_projects.json\"" ]'
    check "the template is a file of the product's folder, the key of a component of its own" \
        '[ "$(table File | awk -F "\t" "\$3 == \"recent_projects.json\" { print \$1, \$2 }")" = "RecentProjectsTemplate Template" ] &&
         [ "$(table Component | awk -F "\t" "\$1 == \"Template\" { print \$3, \$6 }")" = "INSTALLDIR RecentProjectsTemplate" ]'
    # Every row of the entry: "NAME<tab>VALUE<tab>COMPONENT", under HKLM (2).
    entry_key="Software\\Microsoft\\Active Setup\\Installed Components\\$(property UpgradeCode)"
    table Registry | awk -F '\t' -v k="$entry_key" '$2 == 2 && $3 == k { print $4 "\t" $5 "\t" $6 }' |
        sort >"$work/active-setup-rows"
    entry_value() { awk -F '\t' -v n="$1" '$1 == n { print $2 }' "$work/active-setup-rows"; }
    check "the Active Setup entry is the product's (its UpgradeCode), in HKLM, its four values one component's" \
        '[ "$(cut -f1 "$work/active-setup-rows" | tr "\n" " ")" = " IsInstalled StubPath Version " ] &&
         [ "$(cut -f3 "$work/active-setup-rows" | sort -u)" = ActiveSetup ] &&
         [ "$(entry_value "")" = "$(property ProductName)" ]'
    check "its StubPath is expandable (#%) and runs the user action's command from the product's folder" \
        '[ "$(entry_value StubPath)" = "#%\"[INSTALLDIR]Postlude_WB_QL_install.exe\" $user_command" ]'
    check "its Version is the product's, with commas" \
        '[ "$(entry_value Version)" = "$(property ProductVersion | tr . ,)" ]'
    check "its IsInstalled is the integer 1 (#1)" '[ "$(entry_value IsInstalled)" = "#1" ]'
    # msidbComponentAttributes64bit (0x100): the package's own view.
    platform=$(msiinfo suminfo "$package" | sed -n 's/^Template: \([^;]*\);.*/\1/p')
    # shellcheck disable=SC2034 # read by the checks, which eval their condition
    component_bits=$(table Component | awk -F '\t' '$1 == "ActiveSetup" { print $4 }')
    check "its component writes the package's own view ($platform), unconditioned, in the product's feature" \
        '{ { [ "$platform" = x64 ] && [ $(( component_bits & 0x100 )) != 0 ]; } ||
           { [ "$platform" = Intel ] && [ $(( component_bits & 0x100 )) = 0 ]; }; } &&
         [ -z "$(table Component | awk -F "\t" "\$1 == \"ActiveSetup\" { print \$5 }")" ] &&
         table FeatureComponents | grep -qx "Main	ActiveSetup"'
}

#!/usr/bin/env bash
# Starts an installed Quillon the way a user does, offscreen with a fresh home folder, and checks
# where its files went: the program folder is not writable for the user, so the settings file
# goes to ~/.config/Quillon/, the log to ~/.local/state/Quillon/, the user's definition folder
# ~/.local/share/Quillon/CamDefine/ is made and nothing is written into the program folder. Then
# runs "quillon-cli --version" from the PATH and looks for its manual page.
# As root the program runs as the user nobody (root may write anywhere); otherwise a program
# folder the user owns is made read-only for the run.
# Usage: scripts/check-installed.sh [PREFIX]   (default /usr, the Debian package's)
set -euo pipefail
prefix=${1:-/usr}
program_dir=$prefix/lib/quillon
fail() { echo "check-installed: $*" >&2; exit 1; }
for f in Quillon libTallix.so Pivra02CL_64bit.so CamDefine/XC-100.xml; do
    [ -e "$program_dir/$f" ] || fail "missing $program_dir/$f"
done
[ -e "$program_dir/clserial" ] && fail "the simulated Camera Link libraries are installed"
[ -x "$prefix/bin/quillon" ] || fail "no command $prefix/bin/quillon"

home=$(mktemp -d)
restore=""
cleanup() {
    [ -n "$restore" ] && chmod u+w "$program_dir"
    rm -rf "$home"
}
trap cleanup EXIT
chmod 755 "$home"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$home"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
elif [ -w "$program_dir" ]; then
    chmod a-w "$program_dir"
    restore=yes
fi
before=$(ls -A "$program_dir")
run_env=(env -i PATH="$prefix/bin:/usr/bin:/bin" HOME="$home" LANG=C.UTF-8
         QT_QPA_PLATFORM=offscreen QUILLON_QUIT_AFTER_MS=2000)
code=0
timeout 120 "${as_user[@]}" "${run_env[@]}" quillon || code=$?
[ "$code" -eq 0 ] || fail "the installed program ended with $code"

ls "$home"/.config/Quillon/Quillon_[0-9][0-9].ini >/dev/null 2>&1 ||
    fail "no settings file in ~/.config/Quillon/"
ls "$home"/.local/state/Quillon/Quillon_[0-9][0-9]_Log.txt >/dev/null 2>&1 ||
    fail "no log in ~/.local/state/Quillon/"
[ -d "$home/.local/share/Quillon/CamDefine" ] || fail "no ~/.local/share/Quillon/CamDefine/"
[ "$(ls -A "$program_dir")" = "$before" ] || fail "files were written into $program_dir"
echo "check-installed: settings, log and definition folder in the user's home:"
(cd "$home" && find .config .local -type f -o -type d -name CamDefine | sort | sed 's/^/    /')

[ -x "$prefix/bin/quillon-cli" ] || fail "no command $prefix/bin/quillon-cli"
"${run_env[@]}" quillon-cli --version || fail "quillon-cli --version failed"
[ -f "$prefix/share/man/man1/quillon-cli.1" ] || fail "no manual page of quillon-cli"
echo "check-installed: ok"

#!/usr/bin/env bash
# Starts an installed Quillon the way its users do, offscreen with a fresh home folder each time,
# and checks where its files went: as root (sudo quillon, containers, service accounts) and as an
# ordinary user, the settings file goes to ~/.config/Quillon/, the log to
# ~/.local/state/Quillon/, the user's definition folder ~/.local/share/Quillon/CamDefine/ is made
# and nothing is written into the program folder. What decides is the marker the install step
# puts into the program folder, not write permission: root may write anywhere, and a user's own
# installation (cmake --install --prefix ~/.local) is writable by that user. Then runs
# "quillon-cli --version" from the PATH and looks for its manual page.
# The root run needs root; without it only the ordinary user's run is made (and said so). As
# root, the ordinary user is nobody.
# Usage: scripts/check-installed.sh [PREFIX]   (default /usr, the Debian package's)
set -euo pipefail
prefix=${1:-/usr}
program_dir=$prefix/lib/quillon
fail() { echo "check-installed: $*" >&2; exit 1; }
for f in Quillon libTallix.so Pivra02CL_64bit.so CamDefine/XC-100.xml quillon-installed; do
    [ -e "$program_dir/$f" ] || fail "missing $program_dir/$f"
done
[ -e "$program_dir/clserial" ] && fail "the simulated Camera Link libraries are installed"
[ -x "$prefix/bin/quillon" ] || fail "no command $prefix/bin/quillon"

homes=()
cleanup() { [ ${#homes[@]} -eq 0 ] || rm -rf "${homes[@]}"; }
trap cleanup EXIT
before=$(ls -A "$program_dir")

# run_as WHO: starts the program as WHO (root, or the ordinary user) with a home of its own and
# checks where its files went.
run_as() {
    local who=$1 home as_user=()
    home=$(mktemp -d)
    homes+=("$home")
    chmod 755 "$home"
    if [ "$who" = user ] && [ "$(id -u)" -eq 0 ]; then
        chown 65534:65534 "$home"
        as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    fi
    local code=0
    timeout 120 "${as_user[@]}" env -i PATH="$prefix/bin:/usr/bin:/bin" HOME="$home" \
        LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen QUILLON_QUIT_AFTER_MS=2000 quillon || code=$?
    [ "$code" -eq 0 ] || fail "the installed program ended with $code (as $who)"
    ls "$home"/.config/Quillon/Quillon_[0-9][0-9].ini >/dev/null 2>&1 ||
        fail "no settings file in ~/.config/Quillon/ (as $who)"
    ls "$home"/.local/state/Quillon/Quillon_[0-9][0-9]_Log.txt >/dev/null 2>&1 ||
        fail "no log in ~/.local/state/Quillon/ (as $who)"
    [ -d "$home/.local/share/Quillon/CamDefine" ] ||
        fail "no ~/.local/share/Quillon/CamDefine/ (as $who)"
    [ "$(ls -A "$program_dir")" = "$before" ] || fail "files were written into $program_dir (as $who)"
    echo "check-installed: as $who, settings, log and definition folder in the home folder:"
    (cd "$home" && find .config .local -type f -o -type d -name CamDefine | sort | sed 's/^/    /')
}

if [ "$(id -u)" -eq 0 ]; then
    run_as root
else
    echo "check-installed: not root: the run as root is left out"
fi
run_as user

[ -x "$prefix/bin/quillon-cli" ] || fail "no command $prefix/bin/quillon-cli"
env -i PATH="$prefix/bin:/usr/bin:/bin" LANG=C.UTF-8 quillon-cli --version ||
    fail "quillon-cli --version failed"
[ -f "$prefix/share/man/man1/quillon-cli.1" ] || fail "no manual page of quillon-cli"
[ -f "$prefix/share/doc/quillon/serve-protocol.md" ] || fail "no protocol document of serve"
# The Python package, where Debian's python3 finds it when the prefix is /usr (else by
# PYTHONPATH); nothing byte-compiled shipped.
python_dir=$prefix/lib/python3/dist-packages
[ -f "$python_dir/quillon/__init__.py" ] || fail "no Python package in $python_dir/quillon"
find "$python_dir/quillon" -name '*.pyc' | grep -q . && fail "byte-compiled files installed"
python_path=()
[ "$prefix" = /usr ] || python_path=(PYTHONPATH="$python_dir")
env -i PATH="$prefix/bin:/usr/bin:/bin" "${python_path[@]}" PYTHONDONTWRITEBYTECODE=1 \
    python3 -c "import quillon; print('check-installed: python3 imports', quillon.find_cli())" ||
    fail "python3 cannot import quillon"
echo "check-installed: ok"

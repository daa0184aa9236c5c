#!/usr/bin/env bash
# The Debian packages as an administrator meets them, on this machine: lintian finds no error in
# them, apt-get installs them with what they depend on, the installed program and server work
# (test_package of the test build, on an X server of its own) and apt-get purge leaves no file
# of theirs behind. The machine is left as the test found it, also when a step fails midway:
# what the test installed or made is removed again. Needs root.
#   tests/package/InstalledPackages.sh PACKAGE-FOLDER TEST-BUILD-FOLDER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 2 ]; then
    echo "usage: $0 PACKAGE-FOLDER TEST-BUILD-FOLDER" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "InstalledPackages.sh: it installs packages into this machine: run it as root" >&2
    exit 2
fi
packages=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
names=(stendograph stendograph-server)
version=$(dpkg-parsechangelog -l "$here/../../debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
# Installed, or its configuration files still there.
present() {
    local status
    status=$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)
    [ -n "$status" ] && [ "$status" != "not-installed" ]
}
debs=()
for name in "${names[@]}"; do
    debs+=("$packages/${name}_${version}_${arch}.deb")
    # A copy the machine's owner installed is theirs: the test neither replaces nor purges it.
    if present "$name"; then
        echo "InstalledPackages.sh: $name is installed on this machine already; purge it first" >&2
        exit 2
    fi
done
service_user=stendograph
user_existed=
getent passwd "$service_user" >/dev/null && user_existed=1

work=$(mktemp -d "${TMPDIR:-/tmp}/stendo-packages.XXXXXX")
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# What the machine holds before: its packages, the service's user, the files of the folders
# a package writes to (less dpkg's and apt's own records).
snapshot() {
    find /etc /usr /var/lib -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt \) -prune \
        -o -print | LC_ALL=C sort
}
installed_packages() {
    dpkg-query -W -f='${db:Status-Status} ${binary:Package}\n' |
        awk '$1 != "not-installed" {print $2}' | LC_ALL=C sort
}
installed_packages >"$work/packages.before"

cleanup() {
    local status=$?
    set +e
    local leftover=()
    for name in "${names[@]}"; do
        present "$name" && leftover+=("$name")
    done
    # Packages apt-get pulled in for ours (all that came meanwhile, if it stopped midway).
    if [ ! -f "$work/packages.pulled" ]; then
        installed_packages | LC_ALL=C comm -13 "$work/packages.before" - |
            grep -vx -e stendograph -e stendograph-server >"$work/packages.pulled"
    fi
    while read -r name; do
        present "$name" && leftover+=("$name")
    done <"$work/packages.pulled"
    if [ ${#leftover[@]} -gt 0 ]; then
        echo "removing: ${leftover[*]}" >&2
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${leftover[@]}" >"$work/cleanup.log" 2>&1 ||
            cat "$work/cleanup.log" >&2
    fi
    # Debian keeps a package's system user after its purge; the test made it, the test removes it.
    if [ -z "$user_existed" ] && getent passwd "$service_user" >/dev/null; then
        userdel "$service_user" || echo "could not remove the user $service_user" >&2
    fi
    if [ -z "$user_existed" ] && getent group "$service_user" >/dev/null; then
        groupdel "$service_user" || echo "could not remove the group $service_user" >&2
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

snapshot >"$work/files.before"
# The packages' file lists, and which of those paths are there already (shared folders).
for deb in "${debs[@]}"; do
    dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' -e 's|^$|/|'
done | LC_ALL=C sort -u >"$work/files.packaged"
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done <"$work/files.packaged" >"$work/files.shared"

echo "== lintian"
# As an unprivileged user: lintian unpacks packages it is given.
chmod 755 "$work"
cp "${debs[@]}" "$work/"
if ! setpriv --reuid=nobody --regid=nogroup --clear-groups -- env HOME="$work" \
    lintian --fail-on error --tag-display-limit 0 --display-info --show-overrides \
    "${debs[@]/#$packages/$work}" >"$work/lintian.log" 2>&1; then
    fail "lintian found errors"
fi
cat "$work/lintian.log"

echo "== AppStream metadata"
mkdir "$work/program"
dpkg-deb -x "${debs[0]}" "$work/program"
metainfo=("$work"/program/usr/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net "${metainfo[@]}" || fail "appstreamcli validate"

echo "== apt-get install"
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${debs[@]}" \
    >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    fail "apt-get install"
    exit 1
fi
installed_packages | LC_ALL=C comm -13 "$work/packages.before" - |
    { grep -vx -e stendograph -e stendograph-server || true; } >"$work/packages.pulled"
[ ! -s "$work/packages.pulled" ] || echo "apt-get also installed:" $(cat "$work/packages.pulled")
# Installed, the packages hold just the files of their lists.
for name in "${names[@]}"; do
    dpkg-query -L "$name"
done | LC_ALL=C sort -u | grep -vx '/\.' >"$work/files.installed"
grep -vx '/' "$work/files.packaged" | cmp -s - "$work/files.installed" ||
    fail "dpkg lists other files than the packages hold"
while read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || fail "not installed: $path"
done <"$work/files.packaged"

echo "== systemd-analyze verify"
systemd-analyze verify /lib/systemd/system/stendograph-server.service ||
    fail "systemd-analyze verify"

echo "== the installed program and server"
"$here/../support/WithXServer.sh" "$build/bin/test_package" || fail "test_package"

echo "== apt-get purge"
# With what apt-get pulled in for them, as autoremove would.
mapfile -t pulled <"$work/packages.pulled"
if ! DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${names[@]}" "${pulled[@]}" \
    >"$work/purge.log" 2>&1; then
    cat "$work/purge.log" >&2
    fail "apt-get purge"
fi
for name in "${names[@]}"; do
    ! present "$name" || fail "$name is still on the machine after its purge"
done
# Every file of the packages is gone, but for the folders that were there before.
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then
        grep -qxF -- "$path" "$work/files.shared" || fail "left behind: $path"
    fi
done <"$work/files.packaged"
# Nor did anything else of theirs stay (links that enable the service, their records).
snapshot >"$work/files.after"
while read -r path; do
    fail "left behind: $path"
done < <(LC_ALL=C comm -13 "$work/files.before" "$work/files.after")

if [ "$failures" -ne 0 ]; then
    echo "the packages' test: $failures failures" >&2
    exit 1
fi
echo "the packages' test: passed"

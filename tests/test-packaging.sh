#!/bin/sh
# Tests of the deployment pieces: the module.ini registration script, the
# udev rule, the shared device library's exports, the Debian packages
# (lintian, install, run, remove) and the doctor.
#
#   test-packaging.sh register REGISTER FIXTURES
#   test-packaging.sh udev RULE
#   test-packaging.sh exports LIBRARY API_LIST
#   test-packaging.sh build BUILD_DIR OUT_DIR
#   test-packaging.sh lintian OUT_DIR
#   test-packaging.sh install OUT_DIR FIXTURES HARNESS [CFLAGS]
#   test-packaging.sh doctor DOCTOR AGENT REGISTER PLUGIN FIXTURES
#
# Exit status 0: passed; 77: skipped (the reason is printed); else failed.
set -eu

SKIP=77
failures=0
scratch=$(mktemp -d "${TMPDIR:-/tmp}/test-packaging.XXXXXX")
cleanup_hooks=""
cleanup() {
    for hook in $cleanup_hooks; do "$hook" || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}
pass() {
    printf 'ok: %s\n' "$*"
}
skip() {
    printf 'SKIP: %s\n' "$*"
    exit "$SKIP"
}
# check DESCRIPTION COMMAND...: one assertion.
check() {
    what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
    if [ "$failures" -ne 0 ]; then
        printf '%d check(s) failed\n' "$failures" >&2
        exit 1
    fi
    exit 0
}
same_file() { cmp -s "$1" "$2"; }
count_lines() { grep -c -i "$1" "$2" || true; }
# The lines of the first file appear in the second in the same order
# (additions allowed, nothing changed or lost), but for the VirtualDriver
# list, which may only have grown at its end.
only_additions() {
    grep -v -i '^[[:space:]]*virtualdriver[[:space:]]*=' "$1" > "$scratch/a" || true
    grep -v -i '^[[:space:]]*virtualdriver[[:space:]]*=' "$2" > "$scratch/b" || true
    if ! diff "$scratch/a" "$scratch/b" > "$scratch/diff"; then
        grep -q '^<' "$scratch/diff" && return 1
    fi
    old=$(grep -i -m 1 '^[[:space:]]*virtualdriver[[:space:]]*=' "$1" | tr -d '\r')
    new=$(grep -i -m 1 '^[[:space:]]*virtualdriver[[:space:]]*=' "$2" | tr -d '\r')
    case "$new" in
        "$old"*) return 0 ;;
        *) return 1 ;;
    esac
}

# --- module.ini registration ------------------------------------------------
suite_register() {
    reg=$1
    fixtures=$2
    plugin="$scratch/plugin/ica-pipe.so"
    mkdir -p "$scratch/plugin"
    echo "plug-in build" > "$plugin"

    # new_root NAME FIXTURE: a client directory with that module.ini.
    new_root() {
        root="$scratch/$1"
        mkdir -p "$root/config"
        cp "$fixtures/$2" "$root/config/module.ini"
        ini="$root/config/module.ini"
    }
    r() { "$reg" --icaroot "$root" --plugin "$plugin" "$@"; }

    # Every fixture: add gives each original line back in order plus the
    # entries once; a second add changes nothing; remove gives the original
    # back byte for byte; a second remove changes nothing.
    for fixture in plain.ini registered.ini comments.ini crlf.ini disabled.ini; do
        new_root "cycle-$fixture" "$fixture"
        original="$scratch/$fixture.original"
        cp "$ini" "$original"
        r --quiet add
        cp "$ini" "$scratch/$fixture.added"
        check "$fixture: one VirtualDriver entry after add" \
            test "$(grep -i '^[[:space:]]*VirtualDriver' "$ini" | grep -o -i 'icapipe' | wc -l)" -eq 1
        check "$fixture: one on/off line after add" test "$(count_lines '^[[:space:]]*icapipe[[:space:]]*=[[:space:]]*on' "$ini")" -eq 1
        check "$fixture: one driver section after add" test "$(count_lines '^\[icapipe\]' "$ini")" -eq 1
        check "$fixture: status says registered" test "$(r status)" = registered
        check "$fixture: plug-in linked into the client's directory" test "$(readlink "$root/ica-pipe.so")" = "$plugin"
        r --quiet add
        check "$fixture: second add leaves the file as it was" same_file "$ini" "$scratch/$fixture.added"
        case "$fixture" in
            registered.ini | disabled.ini) ;; # they held entries: the lines change
            *) check "$fixture: add keeps every original line, in order" only_additions "$original" "$ini" ;;
        esac
        r --quiet remove
        case "$fixture" in
            registered.ini)
                check "$fixture: remove takes out the hand-made entries, keeps the rest" \
                    same_file "$ini" "$fixtures/registered.ini.removed" ;;
            disabled.ini) ;;
            *) check "$fixture: remove restores the original byte for byte" same_file "$ini" "$original" ;;
        esac
        check "$fixture: status says not registered after remove" test "$(r status || true)" = "not registered"
        check "$fixture: plug-in link gone after remove" test ! -e "$root/ica-pipe.so" -a ! -L "$root/ica-pipe.so"
        cp "$ini" "$scratch/$fixture.removed"
        r --quiet remove
        check "$fixture: second remove leaves the file as it was" same_file "$ini" "$scratch/$fixture.removed"
    done

    # The exact result on a typical file.
    new_root golden plain.ini
    r --quiet add
    check "plain.ini: add gives the expected file" same_file "$ini" "$fixtures/plain.ini.added"
    check "plain.ini: backup holds the content before the change" same_file "$ini.penlark-remote-backup" "$fixtures/plain.ini"

    # Already registered: nothing is written, not even a backup.
    new_root untouched registered.ini
    before=$(stat -c '%i %Y' "$ini")
    sleep 1
    r --quiet add
    check "registered.ini: add writes nothing" test "$(stat -c '%i %Y' "$ini")" = "$before"
    check "registered.ini: no backup when nothing changed" test ! -e "$ini.penlark-remote-backup"

    # Switched off by hand: add switches it on and fixes the library name.
    new_root enable disabled.ini
    r --quiet add
    check "disabled.ini: add switches the driver on" grep -q '^IcaPipe = On$' "$ini"
    check "disabled.ini: add names the plug-in's library" grep -q '^DriverName = ica-pipe.so$' "$ini"
    check "disabled.ini: still one section" test "$(count_lines '^\[icapipe\]' "$ini")" -eq 1

    # CR LF files get CR LF lines.
    new_root crlf crlf.ini
    r --quiet add
    check "crlf.ini: every line of the result ends in CR LF" \
        test "$(grep -c "$(printf '\r')\$" "$ini")" -eq "$(wc -l < "$ini")"

    # The file's mode and owner survive the rewrite.
    new_root mode plain.ini
    chmod 640 "$ini"
    r --quiet add
    check "mode of module.ini kept" test "$(stat -c '%a' "$ini")" = 640

    # Not a module.ini: refused, untouched.
    new_root foreign not-module.ini
    if r --quiet add 2> "$scratch/foreign.err"; then
        fail "a file without [ICA 3.0] is refused"
    else
        pass "a file without [ICA 3.0] is refused"
    fi
    check "the refused file is untouched" same_file "$ini" "$fixtures/not-module.ini"
    check "the refusal says why" grep -q 'no \[ICA 3.0\] section' "$scratch/foreign.err"

    # No client installed: add and remove succeed and create nothing.
    root="$scratch/no-client"
    check "add without a client succeeds" r --quiet add
    check "remove without a client succeeds" r --quiet remove
    check "nothing created without a client" test ! -e "$root"
    set +e
    verdict=$(r status)
    rc=$?
    set -e
    check "status without a client" test "$verdict/$rc" = "client not installed/3"

    # A missing plug-in is not registered.
    new_root no-plugin plain.ini
    if "$reg" --icaroot "$root" --plugin "$scratch/absent.so" --quiet add 2> /dev/null; then
        fail "add refuses a missing plug-in"
    else
        pass "add refuses a missing plug-in"
    fi
    check "the file stays as it was without the plug-in" same_file "$ini" "$fixtures/plain.ini"

    # A copy of the library placed by hand is left alone, and so is it on
    # remove (only our own link is taken away).
    new_root hand-copy plain.ini
    echo "older build" > "$root/ica-pipe.so"
    r add > "$scratch/hand-copy.out"
    check "a hand-placed library is kept" grep -q 'older build' "$root/ica-pipe.so"
    check "and the script warns about it" grep -q 'left in place' "$scratch/hand-copy.out"
    r --quiet remove
    check "remove keeps a library it did not link" test -f "$root/ica-pipe.so"
    finish
}

# --- udev rule -----------------------------------------------------------
# udevadm test runs the rule against emulated devices (umockdev) in a mount
# namespace of its own, where udev's rule directories hold only this rule
# and /run is private, so nothing of the machine's udev state is read or
# changed.
suite_udev() {
    rule=$1
    for tool in unshare umockdev-run udevadm; do
        command -v "$tool" > /dev/null 2>&1 || skip "$tool is not installed"
    done
    unshare -m true 2> /dev/null || skip "no private mount namespace here (needs root or CAP_SYS_ADMIN)"
    mkdir -p "$scratch/rules" "$scratch/empty"
    cp "$rule" "$scratch/rules/"
    # A pad (vendor 18fb) and another HID device (a keyboard, vendor 046d).
    cat > "$scratch/devices.umockdev" <<'EOF'
P: /devices/pci0000:00/0000:00:14.0/usb1/1-2
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=18fb
A: idProduct=0100
A: manufacturer=Inkora
A: product=Simulated Pad

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:18FB:0100.0001
E: SUBSYSTEM=hid

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:18FB:0100.0001/hidraw/hidraw1
N: hidraw1
E: SUBSYSTEM=hidraw
E: DEVNAME=/dev/hidraw1
A: dev=243:1

P: /devices/pci0000:00/0000:00:14.0/usb1/1-3
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=046d
A: idProduct=c31c
A: product=Keyboard

P: /devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface

P: /devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/0003:046D:C31C.0002
E: SUBSYSTEM=hid

P: /devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/0003:046D:C31C.0002/hidraw/hidraw2
N: hidraw2
E: SUBSYSTEM=hidraw
E: DEVNAME=/dev/hidraw2
A: dev=243:2
EOF
    pad=/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:18FB:0100.0001/hidraw/hidraw1
    other=/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/0003:046D:C31C.0002/hidraw/hidraw2
    # udevadm_test ACTION SYSPATH OUT
    udevadm_test() {
        unshare -m sh -c '
            set -e
            mount --bind "$1/rules" /usr/lib/udev/rules.d
            for d in /etc/udev/rules.d /lib/udev/rules.d; do
                [ -d "$d" ] && ! [ "$d" -ef /usr/lib/udev/rules.d ] && mount --bind "$1/empty" "$d"
            done
            mount -t tmpfs tmpfs /run
            exec umockdev-run -d "$1/devices.umockdev" -- udevadm test --action="$2" "$3"
        ' sh "$scratch" "$1" "$2" > "$3" 2> "$3.log" || { cat "$3.log" >&2; return 1; }
    }
    udevadm_test add "$pad" "$scratch/pad.out" || fail "udevadm test ran on the pad's node"
    udevadm_test add "$other" "$scratch/other.out" || fail "udevadm test ran on the other node"
    udevadm_test change "$pad" "$scratch/pad-change.out" || fail "udevadm test ran on a change event"
    check "the rule was read" grep -q "Reading rules file: .*$(basename "$rule")" "$scratch/pad.out.log"
    check "the pad's hidraw node gets the uaccess tag" grep -q '^TAGS=.*:uaccess:' "$scratch/pad.out"
    check "and keeps it on a change event" grep -q '^TAGS=.*:uaccess:' "$scratch/pad-change.out"
    check "another vendor's hidraw node does not" sh -c '! grep -q uaccess "$1"' sh "$scratch/other.out"
    check "the rule sets no mode (no world-writable node)" sh -c '! grep -Eq "MODE|GROUP|OWNER" "$1"' sh "$rule"
    finish
}

# --- shared library exports ---------------------------------------------
suite_exports() {
    lib=$1
    api=$2
    nm -D --defined-only "$lib" | awk '$3 !~ /^INKORA_NIBLINE_/ { sub(/@.*/, "", $3); print $3 }' | sort > "$scratch/exported"
    sort "$api" > "$scratch/declared"
    if diff "$scratch/declared" "$scratch/exported" > "$scratch/exports.diff"; then
        pass "the library exports exactly the $(wc -l < "$scratch/declared") names its headers declare"
    else
        fail "exports differ from the headers' INKORA_API names (< declared only, > exported only):"
        cat "$scratch/exports.diff" >&2
    fi
    soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    check "soname libinkora-nibline.so.2" test "$soname" = libinkora-nibline.so.2
    finish
}

# --- the Debian packages --------------------------------------------------
# build: the three packages from this build tree into OUT_DIR.
suite_build() {
    build=$1
    out=$2
    command -v dpkg-deb > /dev/null 2>&1 || skip "dpkg-deb is not installed"
    rm -rf "$out"
    mkdir -p "$out"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out/work" > "$out/cpack.log" 2>&1 || {
        cat "$out/cpack.log" >&2
        exit 1
    }
    mv "$out"/work/*.deb "$out/"
    rm -rf "$out/work"
    for p in penlark-remote libinkora-nibline2 libinkora-nibline-dev; do
        check "package $p built" test -f "$(ls "$out/${p}_"*.deb 2> /dev/null | head -n 1)"
    done
    finish
}

debs() {
    ls "$1"/penlark-remote_*.deb "$1"/libinkora-nibline2_*.deb "$1"/libinkora-nibline-dev_*.deb 2> /dev/null
}

suite_lintian() {
    out=$1
    command -v lintian > /dev/null 2>&1 || skip "lintian is not installed"
    [ -n "$(debs "$out")" ] || { fail "no packages in $out"; finish; }
    # shellcheck disable=SC2046
    lintian --tag-display-limit 0 $(debs "$out") > "$scratch/lintian.txt" 2>&1 || true
    cat "$scratch/lintian.txt"
    check "lintian reports no errors" sh -c '! grep -q "^E:" "$1"' sh "$scratch/lintian.txt"
    finish
}

# install: the packages onto this machine (root) with their maintainer
# scripts, against a stand-in Citrix client; or, without root, unpacked into
# a scratch root. Then the installed files and modes, the agent started by
# the installed plug-in with a simulated pad, the installed doctor, a C
# program built against the development package, and removal leaving nothing.
suite_install() {
    out=$1
    fixtures=$2
    harness=$3
    cflags=${4:-}
    [ -n "$(debs "$out")" ] || { fail "no packages in $out"; finish; }
    if [ "$(id -u)" -eq 0 ] && command -v dpkg > /dev/null 2>&1; then
        install_on_machine "$out" "$fixtures" "$harness" "$cflags"
    else
        install_in_scratch_root "$out" "$fixtures"
    fi
    finish
}

# expect_file PATH MODE: a file (or, with MODE "link", a symbolic link)
# owned by root with that mode.
expect_file() {
    if [ "$2" = link ]; then
        check "$1 is a symbolic link" test -L "$1"
        return
    fi
    check "$1 installed, mode $2, owner root:root" \
        test -f "$1" -a "$(stat -c '%a %U:%G' "$1" 2> /dev/null)" = "$2 root:root"
}

installed_files() {
    # Every file and link the packages hold, as absolute paths.
    for deb in $(debs "$1"); do
        dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|'
    done
}

install_on_machine() {
    out=$1
    fixtures=$2
    harness=$3
    cflags=$4
    # One install test at a time on this machine (other build trees may run
    # theirs), and never over a copy that someone installed for real.
    exec 9> /run/lock/penlark-remote-packaging-test.lock
    flock -w 100 9 || skip "another packaging test holds the machine"
    for p in penlark-remote libinkora-nibline2 libinkora-nibline-dev; do
        if dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q 'installed'; then
            skip "$p is already installed on this machine; not touching it"
        fi
    done
    [ -e /opt/penlark-remote ] && skip "/opt/penlark-remote exists; not touching it"
    [ -e /opt/Citrix ] && skip "a Citrix client is installed here; not registering into it"

    # A stand-in Citrix client: just its module.ini.
    mkdir -p /opt/Citrix/ICAClient/config
    cp "$fixtures/comments.ini" /opt/Citrix/ICAClient/config/module.ini
    ini=/opt/Citrix/ICAClient/config/module.ini
    remove_stand_in() { rm -rf /opt/Citrix; }
    purge_packages() { dpkg --purge penlark-remote libinkora-nibline-dev libinkora-nibline2 > /dev/null 2>&1; }
    cleanup_hooks="purge_packages remove_stand_in"

    # shellcheck disable=SC2046
    if ! dpkg -i $(debs "$out") > "$scratch/dpkg-install.log" 2>&1; then
        cat "$scratch/dpkg-install.log" >&2
        fail "dpkg -i installs the three packages"
        return
    fi
    pass "dpkg -i installs the three packages"
    # A second configure (reinstall) must leave the registration as it is.
    # shellcheck disable=SC2046
    dpkg -i $(debs "$out") > "$scratch/dpkg-reinstall.log" 2>&1 || fail "reinstalling the packages"

    expect_file /opt/penlark-remote/penlark-remote-standalone 755
    expect_file /usr/lib/penlark-remote/ica-pipe.so 644
    expect_file /usr/lib/udev/rules.d/70-penlark-remote.rules 644
    expect_file /usr/sbin/penlark-remote-register 755
    expect_file /usr/bin/inkora-remote-doctor 755
    expect_file /usr/lib/libinkora-nibline.so.2.0.0 644
    expect_file /usr/lib/libinkora-nibline.so.2 link
    expect_file /usr/lib/libinkora-nibline.so link
    expect_file /usr/include/inkora/inkora-nibline.h 644
    expect_file /usr/lib/pkgconfig/inkora-nibline.pc 644
    for p in penlark-remote libinkora-nibline2 libinkora-nibline-dev; do
        expect_file "/usr/share/doc/$p/copyright" 644
    done
    expect_file /usr/share/doc/penlark-remote/LICENCE 644
    check "the installed rule is the one that tags the pads" grep -q 'TAG+="uaccess"' /usr/lib/udev/rules.d/70-penlark-remote.rules

    # The maintainer scripts registered the plug-in, once, and linked it.
    check "postinst registered the plug-in" test "$(penlark-remote-register status)" = registered
    check "reinstall left one VirtualDriver entry" \
        test "$(grep -i '^[[:space:]]*VirtualDriver' "$ini" | grep -o -i 'icapipe' | wc -l)" -eq 1
    check "reinstall left one driver section" test "$(count_lines '^\[icapipe\]' "$ini")" -eq 1
    check "the client's directory links the installed plug-in" \
        test "$(readlink /opt/Citrix/ICAClient/ica-pipe.so)" = /usr/lib/penlark-remote/ica-pipe.so
    check "the registration kept the other lines" only_additions "$fixtures/comments.ini" "$ini"

    # The installed plug-in, loaded by the client harness with no agent path
    # set, starts the installed agent, which lists a simulated pad.
    printf '\001\001\000\000\000' |
        env -u INKORA_ICA_PIPE_EXEC INKORA_SIMULATED_PADS=1 timeout -k 2 20 \
            "$harness" --plugin /usr/lib/penlark-remote/ica-pipe.so --linger 1500 \
            > "$scratch/channel.out" 2> "$scratch/channel.err" || true
    if grep -a -q 'Simulated Pad' "$scratch/channel.out"; then
        pass "the installed plug-in starts the installed agent, which lists the simulated pad"
    else
        fail "the installed plug-in starts the installed agent, which lists the simulated pad"
        head -c 2000 "$scratch/channel.err" >&2
    fi

    # The installed doctor: agent, registration and rule pass; no pad here.
    inkora-remote-doctor > "$scratch/doctor.out" 2>&1 || true
    cat "$scratch/doctor.out"
    check "doctor: agent found" grep -q '^OK    agent .*/opt/penlark-remote/penlark-remote-standalone' "$scratch/doctor.out"
    check "doctor: agent answers" grep -q '^OK    agent .*answers an enumeration' "$scratch/doctor.out"
    check "doctor: registration" grep -q '^OK    registration' "$scratch/doctor.out"
    check "doctor: udev rule" grep -q '^OK    udev rule .*70-penlark-remote.rules' "$scratch/doctor.out"

    # A C program built against the development package alone.
    if command -v cc > /dev/null 2>&1 && command -v pkg-config > /dev/null 2>&1; then
        cat > "$scratch/consumer.c" <<'EOF'
#include <inkora-nibline.h>
#include <stdio.h>

int main(void) {
    inkora_init();
    inkora_load_additional_drivers();
    inkora_device* head = NULL;
    if (inkora_list_devices(&head) != INKORA_CODE_SUCCESS) {
        printf("error %s\n", inkora_get_last_error());
        return 1;
    }
    unsigned simulated = 0;
    for (inkora_device* d = head; d; d = d->next) {
        if (d->model && d->path) {
            printf("%s %s\n", d->path, d->model);
        }
    }
    simulated = inkora_count_device_list(head);
    printf("version %s devices %u\n", inkora_get_nibline_version(), simulated);
    inkora_free_device_list(head);
    inkora_destroy();
    return 0;
}
EOF
        # shellcheck disable=SC2046,SC2086
        if cc $cflags -o "$scratch/consumer" "$scratch/consumer.c" $(pkg-config --cflags --libs inkora-nibline) \
                2> "$scratch/consumer.err"; then
            pass "a C program builds against the installed headers and pkg-config file"
            INKORA_SIMULATED_PADS=2 "$scratch/consumer" > "$scratch/consumer.out" 2>&1 || true
            check "and runs against the installed library, listing the simulated pads" \
                sh -c 'grep -q "^/dev/inkora-sim/pad1 Simulated Pad" "$1" && grep -q "^/dev/inkora-sim/pad2 Simulated Pad" "$1"' \
                sh "$scratch/consumer.out"
            check "the program loaded the installed library" \
                sh -c 'test "$(readlink -f "$(ldd "$1" | awk "/libinkora-nibline.so.2 =>/ { print \$3 }")")" = \
                        "$(readlink -f /usr/lib/libinkora-nibline.so.2.0.0)"' sh "$scratch/consumer"
        else
            cat "$scratch/consumer.err" >&2
            fail "a C program builds against the installed headers and pkg-config file"
        fi
    fi

    # Removal: the registration comes out, then purge leaves no file behind.
    installed_files "$out" > "$scratch/files"
    dpkg --remove penlark-remote > "$scratch/dpkg-remove.log" 2>&1 || fail "dpkg --remove penlark-remote"
    check "prerm took the registration out: module.ini is the original" same_file "$ini" "$fixtures/comments.ini"
    check "and the link in the client's directory" test ! -e /opt/Citrix/ICAClient/ica-pipe.so -a ! -L /opt/Citrix/ICAClient/ica-pipe.so
    dpkg --purge penlark-remote libinkora-nibline-dev libinkora-nibline2 > "$scratch/dpkg-purge.log" 2>&1 ||
        fail "dpkg --purge of the three packages"
    left=""
    while IFS= read -r f; do
        if [ -e "$f" ] || [ -L "$f" ]; then left="$left $f"; fi
    done < "$scratch/files"
    check "no packaged file is left after purge${left:+ (left:$left)}" test -z "$left"
    for d in /opt/penlark-remote /usr/lib/penlark-remote /usr/include/inkora /usr/share/doc/penlark-remote \
             /usr/share/doc/libinkora-nibline2 /usr/share/doc/libinkora-nibline-dev; do
        check "$d is gone" test ! -e "$d"
    done
    check "purge removed the module.ini backup" test ! -e "$ini.penlark-remote-backup"
    check "the stand-in client holds nothing but its module.ini" \
        test "$(find /opt/Citrix -type f -o -type l | wc -l)" -eq 1
    for p in penlark-remote libinkora-nibline2 libinkora-nibline-dev; do
        check "$p is not known to dpkg any more" sh -c '! dpkg-query -W "$1" > /dev/null 2>&1' sh "$p"
    done
    cleanup_hooks="remove_stand_in"
}

install_in_scratch_root() {
    out=$1
    fixtures=$2
    echo "not root: unpacking into a scratch root (maintainer scripts not run)"
    root="$scratch/root"
    mkdir -p "$root"
    for deb in $(debs "$out"); do dpkg-deb -x "$deb" "$root"; done
    check "agent installed executable" test -x "$root/opt/penlark-remote/penlark-remote-standalone"
    check "plug-in installed" test -f "$root/usr/lib/penlark-remote/ica-pipe.so"
    check "udev rule installed" test -f "$root/usr/lib/udev/rules.d/70-penlark-remote.rules"
    check "registration script executable" test -x "$root/usr/sbin/penlark-remote-register"
    { printf '\001\001\000\000\000'; sleep 1; } |
        INKORA_SIMULATED_PADS=1 timeout -k 2 10 "$root/opt/penlark-remote/penlark-remote-standalone" \
            > "$scratch/agent.out" 2> /dev/null || true
    check "the unpacked agent lists the simulated pad" grep -a -q 'Simulated Pad' "$scratch/agent.out"
    rm -rf "$root"
    check "the scratch root is gone" test ! -e "$root"
}

# --- the doctor against emulated pads ----------------------------------------
suite_doctor() {
    doctor=$1
    agent=$2
    reg=$3
    plugin=$4
    fixtures=$5
    root="$scratch/icaroot"
    mkdir -p "$root/config"
    cp "$fixtures/plain.ini" "$root/config/module.ini"
    export INKORA_ICA_PIPE_EXEC="$agent"
    unset INKORA_DEBUG INKORA_TRACE INKORA_DEBUG_LOCATION INKORA_SIMULATED_PADS || true

    # Not registered: one FAIL, and the exit status says so.
    set +e
    "$doctor" --icaroot "$root" > "$scratch/unregistered.out" 2>&1
    rc=$?
    set -e
    cat "$scratch/unregistered.out"
    check "doctor: agent from INKORA_ICA_PIPE_EXEC" grep -q "^OK    agent .*INKORA_ICA_PIPE_EXEC=$agent" "$scratch/unregistered.out"
    check "doctor: the agent answers" grep -q '^OK    agent .*answers an enumeration' "$scratch/unregistered.out"
    check "doctor: missing registration is a failure" grep -q '^FAIL  registration  not registered' "$scratch/unregistered.out"
    check "doctor: exit status 1 on a failure" test "$rc" -eq 1
    check "doctor: log switch off" grep -q '^INFO  log .*off' "$scratch/unregistered.out"

    "$reg" --icaroot "$root" --plugin "$plugin" --quiet add
    INKORA_DEBUG=1 INKORA_DEBUG_LOCATION="$scratch/nowhere" "$doctor" --icaroot "$root" > "$scratch/registered.out" 2>&1 || true
    check "doctor: registration found" grep -q '^OK    registration' "$scratch/registered.out"
    check "doctor: log switch on" grep -q '^INFO  log .*on: level ALL' "$scratch/registered.out"
    check "doctor: unwritable log directory" grep -q "^WARN  log .*$scratch/nowhere is not writable" "$scratch/registered.out"
    check "doctor: trace follows the log switch" grep -q '^INFO  trace .*on' "$scratch/registered.out"

    # A broken agent path.
    INKORA_ICA_PIPE_EXEC="$scratch/absent-agent" "$doctor" --icaroot "$root" > "$scratch/noagent.out" 2>&1 || true
    check "doctor: a missing agent is a failure" grep -q '^FAIL  agent .*absent-agent is missing' "$scratch/noagent.out"

    # The support bundle.
    "$doctor" --icaroot "$root" --bundle "$scratch/bundle.tar.gz" > "$scratch/bundle.out" 2>&1 || true
    if tar -tzf "$scratch/bundle.tar.gz" > "$scratch/bundle.list" 2> /dev/null; then
        for f in checks.txt versions.txt hidraw.txt module.ini-extract.txt agent.log agent.pcap; do
            check "bundle holds $f" grep -q "^inkora-remote-support/$f\$" "$scratch/bundle.list"
        done
        mkdir -p "$scratch/unpacked"
        tar -xzf "$scratch/bundle.tar.gz" -C "$scratch/unpacked"
        b="$scratch/unpacked/inkora-remote-support"
        check "bundle log records the enumeration" grep -q 'Process starting' "$b/agent.log"
        check "bundle trace is a pcap file" test "$(od -An -tx1 -N4 "$b/agent.pcap" | tr -d ' ')" = d4c3b2a1
        check "bundle extract holds only this driver's lines" \
            sh -c '! grep -qi "ClientComm *= *On" "$1" && grep -qi "^\[icapipe\]" "$1"' sh "$b/module.ini-extract.txt"
    else
        fail "doctor --bundle writes a gzip tar archive"
        cat "$scratch/bundle.out" >&2
    fi

    # Pads: with emulated hidraw nodes, the pad is found and judged, the
    # keyboard is not taken for one.
    if command -v umockdev-run > /dev/null 2>&1; then
        cat > "$scratch/devices.umockdev" <<'EOF'
P: /devices/usb1/1-2
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=18fb
A: idProduct=0100
A: product=Simulated Pad

P: /devices/usb1/1-2/1-2:1.0/0003:18FB:0100.0001/hidraw/hidraw1
N: hidraw1
E: SUBSYSTEM=hidraw
E: DEVNAME=/dev/hidraw1
A: dev=243:1

P: /devices/usb1/1-3
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=046d
A: idProduct=c31c
A: product=Keyboard

P: /devices/usb1/1-3/1-3:1.0/0003:046D:C31C.0002/hidraw/hidraw2
N: hidraw2
E: SUBSYSTEM=hidraw
E: DEVNAME=/dev/hidraw2
A: dev=243:2
EOF
        umockdev-run -d "$scratch/devices.umockdev" -- "$doctor" --icaroot "$root" > "$scratch/pads.out" 2>&1 || true
        cat "$scratch/pads.out"
        check "doctor: the pad's node is found and judged" grep -Eq '^(OK  |FAIL)  pad hidraw1 .*/dev/hidraw1 \(Simulated Pad, 18fb:0100\)' "$scratch/pads.out"
        check "doctor: its mode is shown" grep -q '^ *mode [-crwx]' "$scratch/pads.out"
        check "doctor: the keyboard is not a pad" sh -c '! grep -q hidraw2 "$1"' sh "$scratch/pads.out"
    fi
    "$doctor" --icaroot "$root" > "$scratch/nopads.out" 2>&1 || true
    if ! ls /sys/class/hidraw/hidraw* > /dev/null 2>&1; then
        check "doctor: no pad is a warning" grep -q '^WARN  pads .*no pad attached' "$scratch/nopads.out"
    fi
    finish
}

suite=${1:-}
[ $# -gt 0 ] && shift
case "$suite" in
    register) suite_register "$@" ;;
    udev) suite_udev "$@" ;;
    exports) suite_exports "$@" ;;
    build) suite_build "$@" ;;
    lintian) suite_lintian "$@" ;;
    install) suite_install "$@" ;;
    doctor) suite_doctor "$@" ;;
    *) echo "usage: test-packaging.sh register|udev|exports|build|lintian|install|doctor ARGS" >&2; exit 2 ;;
esac

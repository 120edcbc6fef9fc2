#!/bin/bash
# The Ansible role rolls the shipped image out to several hosts at once: each
# host a throwaway overlay of a fleet system's root (target_root.sh), reached
# through Ansible's chroot connection inside the sandbox, with the real dpkg,
# apt and installer in it. Hosts: a fresh Debian 11; a Debian 12 whose dpkg
# locks another process holds when the play starts; a Debian 13 already on
# this version; a Debian 12 with too old a libtdb1 whose own (local)
# repository has a new enough one; a Debian 11 without libtdb1 and without
# repositories, which must fail alone and with the installer's message; a
# Debian 12 with a newer agent; and a fresh Debian 13 for check mode.
# The controller is this machine's Ansible and, each in a root of its own,
# Debian 11's and 13's; none has dpkg-deb, and the image lies on a noexec
# mount there, as on a controller that cannot run it.
source "$(dirname "$0")/../e2e/lib.sh"
export IMAGE SOURCE_DIR HOLD_DPKG_LOCKS

for release in bullseye:11 bookworm:12 trixie:13; do
    root=$("$SOURCE_DIR/tests/portability/target_root.sh" "${release%%:*}") || {
        case_ "Debian ${release#*:} root"
        fail_ "no root for ${release%%:*}"
        finish
        exit
    }
    export "ROOT${release#*:}=$root"
done

roll_out() { # [--root CONTROLLER-ROOT]
    sandboxed "$@" --ro "$(dirname "$ROOT11")" --cwd /tmp/work -- bash -c '
    ansible --version | head -n 1 >"$OUT/ansible_version"
    hosts=/tmp/hosts
    secret="token = fleet-secret-$RANDOM$RANDOM"
    printf "[server]\naddress = gateway.example\n%s\n" "$secret" >agent.conf
    chmod 0600 agent.conf
    printf "%s\n" "agents:" "  vars:" "    ansible_connection: community.general.chroot" \
        "    ansible_python_interpreter: /usr/bin/python3" "    ansible_become_method: su" \
        "  hosts:" >inventory.yml
    make_host() { # NAME ROOT
        local dir=$hosts/$1 layers=$hosts/.$1
        mkdir -p "$dir" "$layers/upper" "$layers/work"
        mount -t overlay "host-$1" -o "lowerdir=$2,upperdir=$layers/upper,workdir=$layers/work" "$dir"
        mount --rbind /dev "$dir/dev"
        mount -t proc "proc-$1" "$dir/proc"
        mount -t tmpfs "tmp-$1" "$dir/tmp"
        # No network here: a host has only the repository the test gives it, so that
        # updating its lists never waits for an archive it cannot reach.
        : >"$dir/etc/apt/sources.list"
        rm -f "$dir"/etc/apt/sources.list.d/*
        printf "    %s: {ansible_host: %s}\n" "$1" "$dir" >>inventory.yml
    }
    fake_package() { # NAME VERSION: an empty package, as /tmp/fake.deb
        rm -rf /tmp/fake && mkdir -p /tmp/fake/DEBIAN
        printf "Package: %s\nVersion: %s\nArchitecture: amd64\nMaintainer: t <t@t>\nDescription: stand-in\n" "$1" "$2" \
            >/tmp/fake/DEBIAN/control
        dpkg-deb --build /tmp/fake /tmp/fake.deb >/dev/null
    }
    without_libtdb1() { # NAME
        chroot "$hosts/$1" dpkg --purge libtdb1 >/dev/null
    }
    make_host fresh "$ROOT11"
    make_host busy "$ROOT12"
    make_host current "$NEWEST_ROOT"
    make_host from_repo "$ROOT12"
    make_host isolated "$ROOT11"
    make_host newer "$ROOT12"
    make_host spare "$NEWEST_ROOT"

    mkdir "$hosts/current/root/pre"
    cp "$IMAGE" "$hosts/current/root/pre/installer.run"
    cp agent.conf "$hosts/current/root/pre/.agent.conf"
    chroot "$hosts/current" sh -c "cd /root/pre && ./installer.run install" >"$OUT/preinstall" 2>&1
    rm -rf "$hosts/current/root/pre" "$hosts/current/tmp/agent.conf"

    repo=$hosts/from_repo/srv/repo
    mkdir -p "$repo"
    mv "$hosts"/from_repo/var/cache/apt/archives/libtdb1_*.deb "$repo"
    (cd "$repo" && dpkg-scanpackages . >Packages 2>/dev/null)
    without_libtdb1 from_repo
    # Too old for the package'\''s versioned dependency: apt must bring the repository'\''s.
    fake_package libtdb1 1.2-1
    cp /tmp/fake.deb "$hosts/from_repo/tmp/" && chroot "$hosts/from_repo" dpkg -i /tmp/fake.deb >/dev/null
    echo "deb [trusted=yes] file:/srv/repo ./" >"$hosts/from_repo/etc/apt/sources.list"
    without_libtdb1 isolated
    rm -f "$hosts"/isolated/var/cache/apt/archives/*.deb
    for host in from_repo isolated; do chroot "$hosts/$host" apt-get update -qq >/dev/null 2>&1; done
    fake_package morrowlin-tesserak 6.9.7-1
    cp /tmp/fake.deb "$hosts/newer/tmp/" && chroot "$hosts/newer" dpkg -i /tmp/fake.deb >/dev/null

    # A controller that could not run the image or read a package if it tried.
    mkdir -p /srv/rollout && mount -t tmpfs -o noexec rollout /srv/rollout
    cp "$IMAGE" agent.conf /srv/rollout/
    rm -f /usr/bin/dpkg-deb
    /srv/rollout/$(basename "$IMAGE") help >/dev/null 2>&1 || echo cannot >"$OUT/controller_runs_image"

    play() { # NAME ANSIBLE-PLAYBOOK-ARGS...
        local name=$1 started=$EPOCHREALTIME
        shift
        ANSIBLE_NOCOLOR=1 ansible-playbook -v -f 10 -i inventory.yml "$SOURCE_DIR/deploy/ansible/rollout.yml" \
            -e morrowlin_tesserak_installer="/srv/rollout/$(basename "$IMAGE")" \
            -e morrowlin_tesserak_config=/srv/rollout/agent.conf \
            "$@" >"$OUT/$name" 2>&1
        awk -v s="$started" -v e="$EPOCHREALTIME" "BEGIN { printf \"%.1f\n\", e - s }" >"$OUT/$name.seconds"
        # Each host: changed, ok or failed.
        awk "\$2 == \":\" && \$3 ~ /^ok=/ { split(\$4, c, \"=\"); split(\$6, f, \"=\");
             print \$1, (f[2] > 0 ? \"failed\" : (c[2] > 0 ? \"changed\" : \"ok\")) }" "$OUT/$name" |
            sort >"$OUT/$name.recap"
    }
    # What each host holds: the package, apt'\''s verdict, the configuration, leftovers.
    hosts_report() { # NAME HOST...
        local name=$1 host dir conf
        shift
        for host in "$@"; do
            dir=$hosts/$host conf=$hosts/$host/usr/share/morrowlin-tesserak/etc/agent.conf
            printf "%s: %s; apt-get check %s; config %s; left %s\n" "$host" \
                "$(chroot "$dir" dpkg-query -W -f "\${db:Status-Status} \${Version}" morrowlin-tesserak 2>/dev/null |
                    grep "^installed" || echo none)" \
                "$(chroot "$dir" apt-get check >/dev/null 2>&1; echo $?)" \
                "$(if [ -e "$conf" ]; then cmp -s "$conf" agent.conf && echo -n "same " || echo -n "other "
                   stat -c %a "$conf"; else echo none; fi)" \
                "$(ls -d "$dir"/root/morrowlin-tesserak.* "$dir/tmp/agent.conf" 2>/dev/null | wc -l)"
        done >"$OUT/$name.hosts"
    }

    cp "$HOLD_DPKG_LOCKS" "$hosts/busy/usr/local/bin/hold_dpkg_locks"
    # Long enough to outlast what the play does before it needs the locks
    # (copying a 10 MB image to five hosts among it).
    chroot "$hosts/busy" hold_dpkg_locks 25 /tmp/held &
    while [ ! -e "$hosts/busy/tmp/held" ]; do sleep 0.05; done
    play first -e "rollout_hosts=agents:!spare:!newer" -e rollout_batch=5 --diff
    hosts_report first fresh busy current from_repo isolated
    # In batches of two: the failing host comes last, alone in its batch.
    play second -e "rollout_hosts=agents:!spare:!newer" -e rollout_batch=2
    # Another configuration on one host: only that one is installed again.
    echo "address = elsewhere.example" >"$hosts/current/usr/share/morrowlin-tesserak/etc/agent.conf"
    play config -e "rollout_hosts=agents:!spare:!newer:!isolated"
    play config_again -e "rollout_hosts=agents:!spare:!newer:!isolated"
    hosts_report config current
    play newer -e rollout_hosts=newer
    play newer_again -e rollout_hosts=newer
    hosts_report newer newer
    play downgrade -e rollout_hosts=newer -e morrowlin_tesserak_allow_downgrade=true
    hosts_report downgrade newer
    play check --check -e rollout_hosts=spare
    hosts_report check spare
    play purge -e morrowlin_tesserak_state=absent -e rollout_hosts=fresh
    play purge_again -e morrowlin_tesserak_state=absent -e rollout_hosts=fresh
    hosts_report purge fresh
    cat "$OUT"/first "$OUT"/second "$OUT"/config "$OUT"/check | grep -c "$secret" >"$OUT/secret_shown"
    ls -d /tmp/morrowlin-tesserak.* 2>/dev/null | wc -l >"$OUT/controller_left"'
}

check_rollout() { # CONTROLLER
    installed="installed 6.9.6-131326.ubuntu; apt-get check 0; config same 600; left 0"
    case_ "$1: first run: four hosts installed at once, the one without a repository fails alone"
    read_result first first
    expect_result "recap" $'busy changed\ncurrent ok\nfresh changed\nfrom_repo changed\nisolated failed\n' first.recap
    printf -v hosts '%s\n' "fresh: $installed" "busy: $installed" "current: $installed" \
        "from_repo: $installed" "isolated: none; apt-get check 0; config none; left 0"
    expect_result "hosts" "$hosts" first.hosts
    # apt, which brings the dependencies first, waits for the holder, or else the installer does.
    waited=$(grep -o '\[busy\] => {"changed": [a-z]*, "cmd": \["apt-get", "satisfy", [^]]*\], "delta": "0:00:[0-9]*' \
        "$OUT/first" | sed 's/.*0:00://')
    [[ "$first" == *"Waiting for another package manager to finish (unattended-upgr, process"* ]] && waited=25
    # The seconds come zero-padded ("09"): read as decimal, not octal.
    expect_eq "the busy host waited for the lock holder" 1 $((10#${waited:-0} >= 5))
    expect_contains "the failed host's reason" "$first" \
        "morrowlin-tesserak 6.9.6-131326.ubuntu not installed: a dependency of the package is missing and the host's repositories could not provide it; nothing installed (status 69)"
    expect_contains "with the installer's own last line" "$first" "The package needs libtdb1 (>= 1.3.8), which is not installed."
    echo "$1: first run, five hosts: $(cat "$OUT/first.seconds") s"

    case_ "$1: second run: nothing changes"
    expect_result "recap" $'busy ok\ncurrent ok\nfresh ok\nfrom_repo ok\nisolated failed\n' second.recap

    case_ "$1: a changed configuration reaches the one host that has another"
    expect_result "recap" $'busy ok\ncurrent changed\nfresh ok\nfrom_repo ok\n' config.recap
    expect_result "then nothing changes" $'busy ok\ncurrent ok\nfresh ok\nfrom_repo ok\n' config_again.recap
    expect_result "host" "current: $installed"$'\n' config.hosts

    case_ "$1: a newer agent is kept, unless a rollback is asked for"
    expect_result "recap" $'newer failed\n' newer.recap
    expect_result "again" $'newer failed\n' newer_again.recap
    read_result newer newer
    expect_contains "says why" "$newer" "a newer version 6.9.7-1 is installed; nothing changed"
    expect_result "host unchanged" $'newer: installed 6.9.7-1; apt-get check 0; config none; left 0\n' newer.hosts
    expect_result "rolled back on purpose" $'newer changed\n' downgrade.recap
    expect_result "host" "newer: $installed"$'\n' downgrade.hosts

    case_ "$1: check mode on a fresh host reports the change and makes none"
    expect_result "recap" $'spare changed\n' check.recap
    expect_result "host" $'spare: none; apt-get check 0; config none; left 0\n' check.hosts

    case_ "$1: absent purges, then is ok"
    expect_result "recap" $'fresh changed\n' purge.recap
    expect_result "second recap" $'fresh ok\n' purge_again.recap
    expect_result "host" $'fresh: none; apt-get check 0; config none; left 0\n' purge.hosts

    case_ "$1: secrets"
    expect_result "the configuration's secret line never shows in Ansible's output" $'0\n' secret_shown
    expect_result "no private directory stays on the controller" $'0\n' controller_left
    expect_result "the controller could not have run the image" $'cannot\n' controller_runs_image
}

for controller in ${CONTROLLERS:-this bullseye trixie}; do
    new_results
    root=()
    NEWEST_ROOT=$ROOT13
    # Ansible 2.10's modules cannot run on Debian 13's Python (3.13).
    [ "$controller" = bullseye ] && NEWEST_ROOT=$ROOT12
    export NEWEST_ROOT
    if [ "$controller" != this ]; then
        # python3-cffi-backend named: debootstrap does not resolve the virtual
        # packages that python3-cryptography depends on.
        controller_root=$("$SOURCE_DIR/tools/debian-root.sh" controller "$controller" ansible dpkg-dev python3-cffi-backend) || {
            case_ "$controller controller"
            fail_ "no root for $controller"
            continue
        }
        root=(--root "$controller_root")
    fi
    roll_out ${root[@]+"${root[@]}"}
    read_result version ansible_version
    check_rollout "${version%$'\n'} on ${controller/this/this machine}"
done

finish

#!/bin/sh
# Runs $LUMARAD_SANDBOX_PROGRAM with the given arguments under what of lumarad.service's sandbox
# this machine can apply without systemd (as root): no capabilities and no new privileges
# (CapabilityBoundingSet=, NoNewPrivileges=), every mount read-only (ProtectSystem=strict) and
# the home folders hidden (ProtectHome=), in a mount namespace of its own. The program keeps
# this script's process, so signals reach it.
exec unshare --mount --propagation private -- sh -c '
    findmnt -rno TARGET | while read -r m; do mount -o remount,bind,ro "$m" 2>/dev/null || true; done
    for h in /home /root /run/user; do
        if [ -d "$h" ]; then mount -t tmpfs -o ro,mode=0755 none "$h"; fi
    done
    exec setpriv --no-new-privs --bounding-set=-all --inh-caps=-all --ambient-caps=-all "$@"' \
    sh "$LUMARAD_SANDBOX_PROGRAM" "$@"

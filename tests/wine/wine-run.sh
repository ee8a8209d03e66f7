#!/usr/bin/env bash
# Runs one Windows program under Wine in the test prefix; its exit code comes back.
source "$(dirname "$0")/wine-env.sh"
exec wine "$@"

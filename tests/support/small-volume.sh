#!/usr/bin/env bash
# A nearly full 1 MiB volume for the disk-full tests, mapped into the test Wine prefix as a drive.
#
# usage: small-volume.sh setup|cleanup MOUNT_POINT WINEPREFIX DRIVE_LETTER
#
# Mounting needs root; where it is not possible, set-up fails with a message (and so do the tests
# that need the drive). Leaves about 100 KiB free, with a marker file the tests look for.
set -u
action="$1" mount_point="$2" prefix="$3" letter="$4"
link="$prefix/dosdevices/${letter}:"

release() {
  rm -f "$link"
  if mountpoint -q "$mount_point" 2>/dev/null; then umount "$mount_point"; fi
}

case "$action" in
  setup)
    release
    mkdir -p "$mount_point"
    if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=1m,mode=0777 halvern-small-volume "$mount_point" 2>/dev/null; then
      echo "small volume: cannot mount a tmpfs here (mounting needs root); the disk-full tests cannot run" >&2
      exit 1
    fi
    head -c $((1024 * 1024 - 100 * 1024)) /dev/zero > "$mount_point/filler" 2>/dev/null || true
    echo "Halvern small test volume" > "$mount_point/halvern-small-volume.txt"
    mkdir -p "$mount_point/temp"
    ln -s "$mount_point" "$link"
    echo "small volume: $mount_point as ${letter}: ($(df -k --output=avail "$mount_point" | tail -1) KiB free)"
    ;;
  cleanup)
    release
    ;;
esac
exit 0

#!/usr/bin/env bash
# Makes a small file system of one kind in an image under WORKDIR and mounts it at WORKDIR/mnt,
# the way collections are met on Linux: NTFS through ntfs-3g, exFAT through exfat-fuse on a loop
# device, FAT32 through fusefat, a read-only squashfs image (the kernel's, else squashfuse), and
# ext4 and tmpfs as the plain case.
#
#   mount-fs.sh mount KIND WORKDIR [SOURCE]   prints the mount point; SOURCE fills a squashfs
#   mount-fs.sh unmount WORKDIR               lazy unmount, loop detach; safe to repeat
#   mount-fs.sh remount WORKDIR               the same image again (a stick unplugged and back)
#   mount-fs.sh sweep                         takes down what dead owners left: every
#                                             $TMPDIR/kabinex-fs.* whose WORKDIR/owner process is gone
#   mount-fs.sh kinds                         the kinds known
#
# Needs root and /dev/fuse. Exit status 2 means "cannot be mounted here" (the reason on stderr),
# so a test can skip; any other failure is 1. What a mount needs to be taken down is written into
# WORKDIR at once, so an unmount after a failed or half-made mount still leaves nothing behind.
set -uo pipefail

kinds="ntfs exfat fat32 squashfs ext4 tmpfs"
size_mb=64

refuse() { echo "mount-fs: $*" >&2; exit 2; }

need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || refuse "$tool is not installed (scripts/install-deps.sh)"
  done
}

new_image() { truncate -s "${size_mb}M" "$1/image" || refuse "cannot make an image in $1"; }

attach_loop() {
  local device
  device=$(losetup -f --show "$1/image" 2>/dev/null) || refuse "no loop device can be attached"
  echo "$device" >"$1/loop"
  echo "$device"
}

quiet() { "$@" >/dev/null 2>&1; }

mount_kind() {
  local kind=$1 work=$2 source=${3:-} mnt=$2/mnt
  mkdir -p "$mnt"
  echo "$kind" >"$work/kind"
  case $kind in
    ntfs)
      need mkntfs ntfs-3g
      new_image "$work"
      quiet mkntfs -F -Q -q "$work/image" || refuse "mkntfs failed" ;;
    exfat)
      need mkfs.exfat mount.exfat-fuse
      new_image "$work"
      quiet mkfs.exfat "$work/image" || refuse "mkfs.exfat failed" ;;
    fat32)
      need mkfs.vfat fusefat
      new_image "$work"
      quiet mkfs.vfat -F 32 "$work/image" || refuse "mkfs.vfat failed" ;;
    squashfs)
      need mksquashfs
      [ -d "$source" ] || { echo "mount-fs: squashfs needs a SOURCE directory" >&2; exit 1; }
      quiet mksquashfs "$source" "$work/image" -noappend -quiet || refuse "mksquashfs failed" ;;
    ext4)
      need mkfs.ext4
      new_image "$work"
      quiet mkfs.ext4 -q -F "$work/image" || refuse "mkfs.ext4 failed" ;;
    tmpfs) ;;
    *)
      echo "mount-fs: unknown kind '$kind' (known: $kinds)" >&2; exit 1 ;;
  esac
  mount_image "$work"
}

# Mounts WORKDIR's image (made by mount_kind) at WORKDIR/mnt.
mount_image() {
  local work=$1 mnt=$1/mnt kind device
  kind=$(cat "$work/kind")
  case $kind in
    ntfs) quiet ntfs-3g "$work/image" "$mnt" || refuse "ntfs-3g refused the mount" ;;
    exfat)
      device=$(attach_loop "$work") || exit 2
      quiet mount.exfat-fuse "$device" "$mnt" || refuse "exfat-fuse refused the mount" ;;
    fat32) quiet fusefat -o rw+ "$work/image" "$mnt" || refuse "fusefat refused the mount" ;;
    squashfs)
      if ! quiet mount -t squashfs -o loop,ro "$work/image" "$mnt"; then
        need squashfuse
        quiet squashfuse "$work/image" "$mnt" || refuse "neither the kernel nor squashfuse mounts squashfs"
      fi ;;
    ext4)
      device=$(attach_loop "$work") || exit 2
      quiet mount "$device" "$mnt" || refuse "ext4 refused the mount" ;;
    tmpfs) quiet mount -t tmpfs -o size=${size_mb}m tmpfs "$mnt" || refuse "tmpfs refused the mount" ;;
  esac
  mountpoint -q "$mnt" || refuse "$kind: nothing is mounted at $mnt"
  echo "$mnt"
}

# FUSE daemons finish writing on unmount; a lazy unmount detaches at once even while files are
# open, and the loop device is freed when the last user goes.
unmount_work() {
  local work=$1
  if mountpoint -q "$work/mnt" 2>/dev/null; then
    umount "$work/mnt" 2>/dev/null || umount -l "$work/mnt" 2>/dev/null
  fi
  # The kernel squashfs mount holds a loop device of its own (autoclear frees it on unmount).
  if [ -f "$work/loop" ]; then
    losetup -d "$(cat "$work/loop")" 2>/dev/null
    rm -f "$work/loop"
  fi
  return 0
}

# A test that crashed never unmounts; the next one does it for it. A live owner's mounts stay.
sweep() {
  local work owner
  for work in "${TMPDIR:-/tmp}"/kabinex-fs.*; do
    [ -f "$work/owner" ] || continue
    owner=$(cat "$work/owner")
    [[ $owner =~ ^[0-9]+$ ]] && kill -0 "$owner" 2>/dev/null && continue
    unmount_work "$work"
    mountpoint -q "$work/mnt" 2>/dev/null || rm -rf "$work"
  done
}

[ "$(id -u)" -eq 0 ] || refuse "mounting needs root"
case ${1:-} in
  mount)
    [ $# -ge 3 ] || { echo "usage: $0 mount KIND WORKDIR [SOURCE]" >&2; exit 1; }
    [ -c /dev/fuse ] || [ "$2" = ext4 ] || [ "$2" = tmpfs ] || [ "$2" = squashfs ] || refuse "no /dev/fuse"
    mount_kind "$2" "$3" "${4:-}" ;;
  unmount)
    [ $# -eq 2 ] || { echo "usage: $0 unmount WORKDIR" >&2; exit 1; }
    unmount_work "$2" ;;
  remount)
    [ $# -eq 2 ] && [ -f "$2/kind" ] || { echo "usage: $0 remount WORKDIR (mounted before)" >&2; exit 1; }
    unmount_work "$2"
    [ "$(cat "$2/kind")" = tmpfs ] && refuse "a tmpfs does not survive its unmount"
    mount_image "$2" ;;
  sweep) sweep ;;
  kinds) echo "$kinds" ;;
  *) echo "usage: $0 mount KIND WORKDIR [SOURCE] | unmount WORKDIR | remount WORKDIR | sweep | kinds" >&2; exit 1 ;;
esac

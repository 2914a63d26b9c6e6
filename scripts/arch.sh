# Sourced by the other scripts: which Windows architecture this machine can
# run under Wine. The saver is a 32-bit program; where the kernel cannot run
# 32-bit code (some virtual machines), Wine's 32-bit loader fails, and the
# tests and the run use a 64-bit build of the same sources in a 64-bit prefix.
# VIVRA_ARCH=i686 or x86_64 overrides the choice.
vivra_arch() {
    if [ -n "${VIVRA_ARCH:-}" ]; then
        echo "$VIVRA_ARCH"
    elif grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
        # 32-bit code would run only through qemu's emulation, where Wine hangs.
        echo x86_64
    elif [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo i686
    else
        echo x86_64
    fi
}
